#include "placement/place_file_steps.h"

#include <gtest/gtest.h>

#include "fake_file_system.h"
#include "placement/version_names.h"

namespace qmt {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::FakeFileSystem;
using Log = std::vector<std::string>;

TEST(VersionNamesTest, NewAndOldVersionNames) {
  struct Case {
    std::u16string target, newName, oldName;
  };
  const Case cases[] = {
      {u"Quillmart.exe", u"Quillmart.neu", u"Quillmart.exe.alt"},
      {u"archive.tar.gz", u"archive.tar.neu", u"archive.tar.gz.alt"},
      {u"README", u"README.neu", u"README.alt"},
      {u".config", u".config.neu", u".config.alt"},
      {u"name.", u"name.neu", u"name..alt"},
      {u"C:\\p\\WebView2Loader.dll", u"C:\\p\\WebView2Loader.neu", u"C:\\p\\WebView2Loader.dll.alt"},
      {u"C:\\dir.d\\README", u"C:\\dir.d\\README.neu", u"C:\\dir.d\\README.alt"},
      {u"C:/dir.d/.config", u"C:/dir.d/.config.neu", u"C:/dir.d/.config.alt"},
      {u"C:\\p\\\xD800q\\a.exe", u"C:\\p\\\xD800q\\a.neu", u"C:\\p\\\xD800q\\a.exe.alt"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(newVersionName(c.target), c.newName);
    EXPECT_EQ(oldVersionName(c.target), c.oldName);
  }
}

// A target folder with the file "app.exe" and its two siblings.
const std::u16string kFolder = u"C:\\q";
const std::u16string kTarget = u"C:\\q\\app.exe";
const std::u16string kNew = u"C:\\q\\app.neu";
const std::u16string kOld = u"C:\\q\\app.exe.alt";

struct Situation {
  FakeFileSystem fs;
  Situation() { fs.folders = {kFolder}; }
  Expected<void, PlacementError> place(const Bytes& content) {
    return placeFileWith(fs.operations(), kTarget, content);
  }
  std::optional<Bytes> file(const std::u16string& path) const {
    auto found = fs.files.find(path);
    return found == fs.files.end() ? std::nullopt : std::optional<Bytes>(found->second);
  }
};

const Bytes kOldBytes = bytesOf("old version");
const Bytes kNewBytes = bytesOf("new version");  // same length, differs in bytes
const Bytes kEarlierAlt = bytesOf("earlier");

// One row per situation before the call: the result, and the target, .neu and .alt afterwards.
TEST(PlaceFileStepsTest, StateTable) {
  using Step = std::optional<PlacementStep>;
  struct Row {
    const char* situation;
    std::function<void(Situation&)> prepare;
    Step failedStep;
    std::optional<Bytes> target, neu, alt;
    Log log;
  };
  const Row rows[] = {
      {"target holds exactly the content",
       [](Situation& s) { s.fs.files[kTarget] = kNewBytes; s.fs.files[kOld] = kEarlierAlt; },
       std::nullopt, kNewBytes, std::nullopt, kEarlierAlt, {"read app.exe"}},
      {"no file at the target", [](Situation&) {}, std::nullopt, kNewBytes, std::nullopt, std::nullopt,
       {"read app.exe", "write app.neu", "present app.exe", "rename app.neu app.exe"}},
      {"different file, direct replacement works",
       [](Situation& s) { s.fs.files[kTarget] = kOldBytes; s.fs.files[kOld] = kEarlierAlt; },
       std::nullopt, kNewBytes, std::nullopt, kEarlierAlt,
       {"read app.exe", "write app.neu", "present app.exe", "rename app.neu app.exe"}},
      {"different file in use, moved aside over an earlier .alt",
       [](Situation& s) { s.fs.files[kTarget] = kOldBytes; s.fs.inUse = {kTarget}; s.fs.files[kOld] = kEarlierAlt; },
       std::nullopt, kNewBytes, std::nullopt, kOldBytes,
       {"read app.exe", "write app.neu", "present app.exe", "rename app.neu app.exe", "remove app.exe.alt",
        "rename app.exe app.exe.alt", "rename app.neu app.exe"}},
      {"writing .neu fails", [](Situation& s) { s.fs.files[kTarget] = kOldBytes; s.fs.inUse = {kNew}; },
       PlacementStep::WriteNewVersion, kOldBytes, std::nullopt, std::nullopt, {"read app.exe", "write app.neu"}},
      {"renaming the old file aside fails (earlier .alt in use)",
       [](Situation& s) {
         s.fs.files[kTarget] = kOldBytes;
         s.fs.files[kOld] = kEarlierAlt;
         s.fs.inUse = {kTarget, kOld};
       },
       PlacementStep::MoveOldAside, kOldBytes, kNewBytes, kEarlierAlt,
       {"read app.exe", "write app.neu", "present app.exe", "rename app.neu app.exe", "remove app.exe.alt",
        "rename app.exe app.exe.alt"}},
  };
  for (const auto& row : rows) {
    Situation s;
    row.prepare(s);
    auto result = s.place(kNewBytes);
    if (row.failedStep) {
      ASSERT_FALSE(result) << row.situation;
      EXPECT_EQ(result.error().step, *row.failedStep) << row.situation;
    } else {
      EXPECT_TRUE(result) << row.situation;
    }
    EXPECT_EQ(s.file(kTarget), row.target) << row.situation;
    EXPECT_EQ(s.file(kNew), row.neu) << row.situation;
    EXPECT_EQ(s.file(kOld), row.alt) << row.situation;
    EXPECT_EQ(s.fs.log, row.log) << row.situation;
  }
}

TEST(PlaceFileStepsTest, FinalRenameFailures) {
  // No old file: the failing final rename is call 3; the .neu file is removed afterwards.
  Situation fresh;
  fresh.fs.failCall = 3;
  fresh.fs.failError = Error::system(1234);
  auto result = fresh.place(kNewBytes);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().step, PlacementStep::MoveNewIntoPlace);
  EXPECT_EQ(result.error().error, Error::system(1234));
  EXPECT_FALSE(fresh.file(kTarget));
  EXPECT_FALSE(fresh.file(kNew));
  EXPECT_EQ(fresh.fs.log.back(), "remove app.neu");

  // After the old file was moved aside (call 6 is the final rename): it stays under .alt, no rollback.
  Situation aside;
  aside.fs.files[kTarget] = kOldBytes;
  aside.fs.inUse = {kTarget};
  aside.fs.failCall = 6;
  auto afterAside = aside.place(kNewBytes);
  ASSERT_FALSE(afterAside);
  EXPECT_EQ(afterAside.error().step, PlacementStep::MoveNewIntoPlace);
  EXPECT_FALSE(aside.file(kTarget));
  EXPECT_FALSE(aside.file(kNew));
  EXPECT_EQ(aside.file(kOld), kOldBytes);
}

TEST(PlaceFileStepsTest, ComparisonDecidesByTheBytesAlone) {
  struct Case {
    const char* name;
    std::optional<Bytes> existing;
    Bytes content;
    bool untouched;
  };
  const Case cases[] = {
      {"identical", kNewBytes, kNewBytes, true},
      {"one byte differs", bytesOf("new versioN"), kNewBytes, false},
      {"prefix of the content", bytesOf("new"), kNewBytes, false},
      {"longer than the content", bytesOf("new version!"), kNewBytes, false},
      {"empty over empty", Bytes{}, Bytes{}, true},
      {"empty content, no file", std::nullopt, Bytes{}, false},
      {"empty content over a file", kOldBytes, Bytes{}, false},
  };
  for (const auto& c : cases) {
    Situation s;
    if (c.existing) s.fs.files[kTarget] = *c.existing;
    ASSERT_TRUE(s.place(c.content)) << c.name;
    EXPECT_EQ(s.fs.log.size() == 1, c.untouched) << c.name;
    EXPECT_EQ(s.file(kTarget), c.content) << c.name;
  }
}

TEST(PlaceFileStepsTest, UnreadableTargetCountsAsDifferentAndIsReplaced) {
  Situation s;
  s.fs.files[kTarget] = kNewBytes;  // identical, but the read fails: placement goes on
  s.fs.failCall = 0;
  ASSERT_TRUE(s.place(kNewBytes));
  EXPECT_EQ(s.fs.log.size(), 4u);
  EXPECT_EQ(s.file(kTarget), kNewBytes);
}

TEST(PlaceFileStepsTest, DiscardedFailuresDoNotStopThePlacement) {
  // A failing presence query counts as absence: the final rename replaces the file all the same.
  Situation present;
  present.fs.files[kTarget] = kOldBytes;
  present.fs.failCall = 2;
  ASSERT_TRUE(present.place(kNewBytes));
  EXPECT_EQ(present.file(kTarget), kNewBytes);
  // A failing removal of the leftover .alt: the rename aside replaces it.
  Situation leftover;
  leftover.fs.files[kTarget] = kOldBytes;
  leftover.fs.files[kOld] = kEarlierAlt;
  leftover.fs.inUse = {kTarget};
  leftover.fs.failCall = 4;
  ASSERT_TRUE(leftover.place(kNewBytes));
  EXPECT_EQ(leftover.file(kOld), kOldBytes);
}

TEST(PlaceFileStepsTest, OldVersionNameKeepsUnpairedSurrogatesThroughSeam) {
  // A target folder whose name holds an unpaired surrogate: a name made from a lossy text form of the path would
  // point into a folder that does not exist, and the swap would fail.
  const std::u16string folder = u"C:\\q\xDC00r";
  const std::u16string target = folder + u"\\app.exe";
  FakeFileSystem fs;
  fs.folders = {folder, u"C:\\q\xFFFDr"};  // even a look-alike folder must not receive the old file
  fs.files[target] = kOldBytes;
  fs.inUse = {target};
  ASSERT_TRUE(placeFileWith(fs.operations(), target, kNewBytes));
  EXPECT_EQ(fs.files[target], kNewBytes);
  ASSERT_TRUE(fs.files.count(folder + u"\\app.exe.alt"));
  EXPECT_EQ(fs.files[folder + u"\\app.exe.alt"], kOldBytes);
  EXPECT_EQ(fs.files.size(), 2u);
}

// Nothing lost: whichever call fails, the target holds the old bytes or the new bytes, or it is empty while the old
// bytes sit under .alt and a failure is reported; it never holds partial content. A second, undisturbed run then
// completes the update.
TEST(PlaceFileStepsTest, NothingLostAtAnyFailurePoint) {
  for (bool inUse : {false, true}) {
    for (std::size_t failAt = 0; failAt < 8; ++failAt) {
      Situation s;
      s.fs.files[kTarget] = kOldBytes;
      s.fs.files[kOld] = kEarlierAlt;
      if (inUse) s.fs.inUse = {kTarget};
      s.fs.failCall = failAt;
      auto result = s.place(kNewBytes);
      auto target = s.file(kTarget);
      std::string where = std::to_string(failAt) + (inUse ? " in use" : "");
      if (target) {
        EXPECT_TRUE(*target == kOldBytes || *target == kNewBytes) << where;
        if (*target == kOldBytes) {
          EXPECT_FALSE(result) << where << ": old bytes left but success reported";
        }
      } else {
        EXPECT_FALSE(result) << where;
        EXPECT_EQ(s.file(kOld), kOldBytes) << where;
      }
      s.fs.failCall.reset();
      s.fs.inUse.clear();
      ASSERT_TRUE(s.place(kNewBytes)) << where;
      EXPECT_EQ(s.file(kTarget), kNewBytes) << where;
      EXPECT_FALSE(s.file(kNew)) << where;
    }
  }
}

}  // namespace
}  // namespace qmt
