#include "location/folder_tree.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qmt {
namespace {

std::string show(std::u16string_view units) { return std::string(units.begin(), units.end()); }

// A file system of folders in memory. Creating a folder needs its parent; scripted answers override the outcome
// of single calls, in order, to produce errors and races.
class FakeFolders final : public FolderOperations {
 public:
  std::set<std::u16string> folders;               // existing directories
  std::set<std::u16string> files;                 // existing non-directories
  std::set<std::u16string> roots;                 // always present, parent of the top level
  std::map<std::u16string, std::vector<std::optional<std::uint32_t>>> scripted;  // per path: code, or nullopt = ok
  std::map<std::u16string, std::u16string> appearBefore;  // another process creates the key right after the value
  std::map<std::u16string, std::uint32_t> queryErrors;     // paths whose attribute query fails with this code
  std::vector<std::u16string> createCalls;
  std::vector<std::u16string> directoryQueries;

  Expected<void, Error> createDirectory(std::u16string_view view) override {
    const std::u16string path(view);
    createCalls.push_back(path);
    auto script = scripted.find(path);
    if (script != scripted.end() && !script->second.empty()) {
      const std::optional<std::uint32_t> code = script->second.front();
      script->second.erase(script->second.begin());
      if (code) return unexpected(Error::system(*code));
      return created(path);
    }
    if (folders.count(path) || files.count(path) || roots.count(path)) return unexpected(Error::system(183));
    const std::u16string parent = path.substr(0, path.rfind(u'\\') + (path.rfind(u'\\') == 2 ? 1 : 0));
    if (!folders.count(parent) && !roots.count(parent)) return unexpected(Error::system(3));
    return created(path);
  }

  Expected<void, Error> created(const std::u16string& path) {
    folders.insert(path);
    for (const auto& [appearing, trigger] : appearBefore) {
      if (trigger == path) folders.insert(appearing);
    }
    return {};
  }

  Expected<bool, Error> queryDirectory(std::u16string_view view) override {
    const std::u16string path(view);
    directoryQueries.push_back(path);
    if (queryErrors.count(path)) return unexpected(Error::system(queryErrors[path]));
    return folders.count(path) > 0 || roots.count(path) > 0;
  }
};

std::vector<std::string> shown(const std::vector<std::u16string>& paths) {
  std::vector<std::string> out;
  for (const auto& p : paths) out.push_back(show(p));
  return out;
}

using Calls = std::vector<std::string>;

TEST(FolderTreeTest, CreatesMissingParentsOutsideIn) {
  FakeFolders fs;
  fs.roots = {u"C:\\"};
  fs.folders = {u"C:\\Users"};
  ASSERT_TRUE(createFolderTree(u"C:\\Users\\Programs\\Quillmart", fs));
  EXPECT_EQ(shown(fs.createCalls),
            (Calls{"C:\\Users\\Programs\\Quillmart", "C:\\Users\\Programs", "C:\\Users\\Programs\\Quillmart"}));
  EXPECT_TRUE(fs.folders.count(u"C:\\Users\\Programs\\Quillmart"));
}

TEST(FolderTreeTest, ExistingFolderNeedsOneAttempt) {
  FakeFolders fs;
  fs.roots = {u"C:\\"};
  fs.folders = {u"C:\\a", u"C:\\a\\b"};
  ASSERT_TRUE(createFolderTree(u"C:\\a\\b", fs));
  EXPECT_EQ(shown(fs.createCalls), (Calls{"C:\\a\\b"}));
  EXPECT_EQ(shown(fs.directoryQueries), (Calls{"C:\\a\\b"}));
}

TEST(FolderTreeTest, RootsAndBareDrivesAreNeverCreated) {
  const struct {
    const char16_t* target;
    Calls calls;
    Calls queries;
  } cases[] = {
      {u"E:\\programme", {"E:\\programme"}, {}},
      {u"E:programme", {"E:programme"}, {}},
      {u"E:\\", {}, {"E:\\"}},
      {u"E:", {}, {"E:"}},
      {u"\\", {}, {"\\"}},
      {u"", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(show(c.target));
    FakeFolders fs;
    fs.roots = {u"E:\\", u"E:", u"\\"};
    for (const char16_t* answer : {u"E:\\programme", u"E:programme"}) fs.scripted[answer] = {std::nullopt};
    EXPECT_TRUE(createFolderTree(c.target, fs));
    EXPECT_EQ(shown(fs.createCalls), c.calls);
    EXPECT_EQ(shown(fs.directoryQueries), c.queries);
  }
}

TEST(FolderTreeTest, TargetWithoutParentMustAlreadyBeADirectory) {
  // Share roots, with either separator, are only queried: the query's error, or 183 for a file, is the failure.
  const struct {
    const char16_t* target;
    std::optional<std::uint32_t> queryError;
    bool isDirectory;
    std::optional<Error> error;
  } cases[] = {
      {u"\\\\nas\\programme", 53, false, Error::system(53)},
      {u"//nas/programme", 53, false, Error::system(53)},
      {u"/\\nas/programme\\", 67, false, Error::system(67)},
      {u"\\\\?\\UNC\\nas\\programme", 3, false, Error::system(3)},
      {u"//nas/share", std::nullopt, true, std::nullopt},
      {u"\\\\nas\\share\\", std::nullopt, false, Error::system(183)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(show(c.target));
    FakeFolders fs;
    if (c.queryError) fs.queryErrors[c.target] = *c.queryError;
    if (c.isDirectory) fs.roots.insert(c.target);
    Expected<void, Error> result = createFolderTree(c.target, fs);
    EXPECT_EQ(result.has_value(), !c.error.has_value());
    if (c.error && !result) {
      EXPECT_EQ(result.error(), *c.error);
    }
    EXPECT_TRUE(fs.createCalls.empty());
    EXPECT_EQ(shown(fs.directoryQueries), Calls{show(c.target)});
  }
}

TEST(FolderTreeTest, ShareRootWrittenWithSlashesIsNeverCreated) {
  // The folder below an unreachable share is missing; the walk stops at the share root instead of creating it.
  for (const char16_t* target : {u"//nas/share/programme", u"\\\\nas/share\\programme", u"/\\nas\\share/programme"}) {
    SCOPED_TRACE(show(target));
    FakeFolders fs;
    fs.scripted[target] = {67, 67};
    Expected<void, Error> result = createFolderTree(target, fs);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), Error::system(67));
    EXPECT_EQ(shown(fs.createCalls), (Calls{show(target), show(target)}));
    EXPECT_TRUE(fs.directoryQueries.empty());
  }
}

TEST(FolderTreeTest, NotFoundCodesContinueOutward) {
  // Every not-found code counts the path as missing; the missing drive's outermost folder gives the error.
  for (std::uint32_t code : {2u, 3u, 15u, 53u, 67u}) {
    SCOPED_TRACE(code);
    FakeFolders fs;
    fs.scripted[u"Q:\\x\\y"] = {3, 3};
    fs.scripted[u"Q:\\x"] = {code, code};
    Expected<void, Error> result = createFolderTree(u"Q:\\x\\y", fs);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), Error::system(code));
    EXPECT_EQ(shown(fs.createCalls), (Calls{"Q:\\x\\y", "Q:\\x", "Q:\\x"}));
  }
}

TEST(FolderTreeTest, RelativePathWalksToItsFirstName) {
  FakeFolders fs;
  fs.scripted[u"rel\\data\\programme"] = {3, std::nullopt};
  fs.scripted[u"rel\\data"] = {3, std::nullopt};
  fs.scripted[u"rel"] = {std::nullopt};
  ASSERT_TRUE(createFolderTree(u"rel\\data\\programme", fs));
  EXPECT_EQ(shown(fs.createCalls),
            (Calls{"rel\\data\\programme", "rel\\data", "rel", "rel\\data", "rel\\data\\programme"}));

  // When even the first name cannot be created, the walk ends there and the second phase reports the error.
  FakeFolders gone;
  gone.scripted[u"programme"] = {3, 3};
  Expected<void, Error> result = createFolderTree(u"programme", gone);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), Error::system(3));
  EXPECT_EQ(shown(gone.createCalls), (Calls{"programme", "programme"}));
}

TEST(FolderTreeTest, FirstPhaseOutcomes) {
  const struct {
    const char* name;
    std::uint32_t code;
    bool isDirectory;
    std::optional<Error> error;
    std::size_t queries;
  } cases[] = {
      {"183 with a directory", 183, true, std::nullopt, 1},
      {"80 with a directory", 80, true, std::nullopt, 1},
      {"183 with a file", 183, false, Error::system(183), 1},
      {"80 with a file", 80, false, Error::system(80), 1},
      {"access denied", 5, true, Error::system(5), 0},
      {"invalid name", 123, true, Error::system(123), 0},
      {"too long", 206, true, Error::system(206), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFolders fs;
    fs.roots = {u"C:\\"};
    if (c.isDirectory) fs.folders.insert(u"C:\\t");
    fs.scripted[u"C:\\t"] = {c.code};
    Expected<void, Error> result = createFolderTree(u"C:\\t", fs);
    EXPECT_EQ(result.has_value(), !c.error.has_value());
    if (c.error && !result) {
      EXPECT_EQ(result.error(), *c.error);
    }
    EXPECT_EQ(fs.createCalls.size(), 1u);
    EXPECT_EQ(fs.directoryQueries.size(), c.queries);
  }
}

TEST(FolderTreeTest, NonSystemErrorEndsTheWalk) {
  struct NulRejecting final : FolderOperations {
    int calls = 0;
    Expected<void, Error> createDirectory(std::u16string_view) override {
      ++calls;
      return unexpected(Error::of(ErrorKind::NulInPath));
    }
    Expected<bool, Error> queryDirectory(std::u16string_view) override { return true; }
  } rejecting;
  const std::u16string target{u'C', u':', u'\\', u'a', u'\0', u'b'};
  Expected<void, Error> result = createFolderTree(target, rejecting);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), Error::of(ErrorKind::NulInPath));
  EXPECT_EQ(rejecting.calls, 1);
}

TEST(FolderTreeTest, SecondPhaseOutcomes) {
  // The walk finds Programs and Quillmart missing; then the second phase meets what another process did meanwhile.
  const struct {
    const char* name;
    std::vector<std::optional<std::uint32_t>> programs;  // answers for Programs: walk, then creation
    bool programsIsDirectory;
    std::optional<Error> error;
    std::size_t calls;
  } cases[] = {
      {"created meanwhile as a folder", {3, 183}, true, std::nullopt, 5},
      {"created meanwhile, 80", {3, 80}, true, std::nullopt, 5},
      {"a file appeared", {3, 183}, false, Error::system(183), 4},
      {"access denied", {3, 5}, true, Error::system(5), 4},
      {"parent vanished", {3, 3}, false, Error::system(3), 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFolders fs;
    fs.roots = {u"C:\\"};
    fs.folders = {u"C:\\L"};
    fs.scripted[u"C:\\L\\Programs"] = c.programs;
    if (c.programsIsDirectory) fs.folders.insert(u"C:\\L\\Programs");
    fs.scripted[u"C:\\L\\Programs\\Quillmart"] = {3, std::nullopt};
    Expected<void, Error> result = createFolderTree(u"C:\\L\\Programs\\Quillmart", fs);
    EXPECT_EQ(result.has_value(), !c.error.has_value());
    if (c.error && !result) {
      EXPECT_EQ(result.error(), *c.error);
    }
    EXPECT_EQ(fs.createCalls.size(), c.calls);
  }
}

TEST(FolderTreeTest, SecondPhaseAcceptsTheTargetAppearing) {
  FakeFolders fs;
  fs.roots = {u"C:\\"};
  fs.folders = {u"C:\\L"};
  fs.scripted[u"C:\\L\\P\\Q"] = {3, 183};
  fs.scripted[u"C:\\L\\P"] = {3, std::nullopt};
  fs.appearBefore[u"C:\\L\\P\\Q"] = u"C:\\L\\P";  // someone else creates Q right after this run created P
  ASSERT_TRUE(createFolderTree(u"C:\\L\\P\\Q", fs));
  EXPECT_EQ(shown(fs.createCalls), (Calls{"C:\\L\\P\\Q", "C:\\L\\P", "C:\\L", "C:\\L\\P", "C:\\L\\P\\Q"}));
  EXPECT_EQ(shown(fs.directoryQueries), (Calls{"C:\\L", "C:\\L\\P\\Q"}));
}

TEST(FolderTreeTest, CreationSeesTheExactUnits) {
  // A lone surrogate in the environment value reaches every creation call unchanged.
  const std::u16string odd{u'C', u':', u'\\', u'd', char16_t(0xD800), u'x', char16_t(0xDC01)};
  const std::u16string target = odd + u"\\programme";
  FakeFolders fs;
  fs.roots = {u"C:\\"};
  ASSERT_TRUE(createFolderTree(target, fs));
  EXPECT_EQ(fs.createCalls, (std::vector<std::u16string>{target, odd, target}));
}

TEST(FolderTreeTest, MissingAncestorsAreViewsWithExactCapacity) {
  const std::u16string target = u"C:\\a\\b\\c\\d";
  for (std::size_t count = 0; count <= 4; ++count) {
    SCOPED_TRACE(count);
    const std::vector<std::u16string_view> paths = missingAncestors(target, count);
    EXPECT_EQ(paths.size(), count);
    EXPECT_EQ(paths.capacity(), count);
    for (std::size_t i = 0; i < paths.size(); ++i) {
      EXPECT_EQ(paths[i].data(), target.data());
      EXPECT_EQ(paths[i].size(), target.size() - 2 * i);
    }
  }
}

}  // namespace
}  // namespace qmt
