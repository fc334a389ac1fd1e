// The target folder on the real file system under Wine: the environment lookup, folder creation through
// CreateDirectoryW (recorded through a replaceable call, so the exact units handed to the system are visible), and
// the failure texts. Every folder is made below a scratch folder next to this test program.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "location/system_environment.h"
#include "location/system_folders.h"
#include "location/prepare_target_folder.h"
#include "runtime/text.h"
#include "runtime/wide.h"
#include "setup/failure.h"
#include "under_wine.h"

namespace qmt {
namespace {

std::string show(std::u16string_view units) { return utf16ToUtf8Lossy(units); }

// Compares two looked-up values; a mismatch is described by lengths and the first differing unit, so that values
// of many thousand units do not flood the output.
::testing::AssertionResult sameValue(const std::optional<std::u16string>& actual,
                                     const std::optional<std::u16string>& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  if (!actual || !expected) {
    return ::testing::AssertionFailure() << (actual ? "defined" : "not defined") << " instead of "
                                         << (expected ? "defined" : "not defined");
  }
  std::size_t at = 0;
  while (at < actual->size() && at < expected->size() && (*actual)[at] == (*expected)[at]) ++at;
  return ::testing::AssertionFailure() << actual->size() << " units instead of " << expected->size()
                                       << ", first difference at unit " << at;
}

// What reached CreateDirectoryW, call by call, with the error each call left.
struct RecordedCall {
  std::u16string path;
  DWORD error;
};
std::vector<RecordedCall> recorded;

BOOL WINAPI recordingCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
  const BOOL ok = CreateDirectoryW(path, attributes);
  const DWORD error = ok ? 0 : GetLastError();
  recorded.push_back({std::u16string(fromWide(path)), error});
  SetLastError(error);
  return ok;
}

Expected<std::u16string, SetupFailure> prepareRecorded() {
  SystemEnvironment environment;
  SystemFolderOperations operations(&recordingCreateDirectory);
  return prepareTargetFolderWith(environment, operations);
}

// Removes a folder with all its content; works for paths beyond MAX_PATH (extended form).
void removeTree(const std::u16string& absolutePath) {
  const std::u16string base = u"\\\\?\\" + absolutePath;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(wide(base + u"\\*"), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::u16string name(fromWide(entry.cFileName));
      if (name == u"." || name == u"..") continue;
      const std::u16string child = absolutePath + u"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(child);
      } else {
        DeleteFileW(wide(u"\\\\?\\" + child));
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(wide(base));
}

// The value of `name` as the environment block holds it, read without GetEnvironmentVariableW. Wine keeps at most
// 32766 units of a value set with SetEnvironmentVariableW, so this is the value a lookup must return.
std::optional<std::u16string> blockValue(std::u16string_view name) {
  const std::u16string prefix = std::u16string(name) + u"=";
  wchar_t* block = GetEnvironmentStringsW();
  std::optional<std::u16string> value;
  for (const wchar_t* entry = block; *entry != 0; entry += wcslen(entry) + 1) {
    const std::u16string_view text = fromWide(entry);
    if (text.starts_with(prefix)) value = std::u16string(text.substr(prefix.size()));
  }
  FreeEnvironmentStringsW(block);
  return value;
}

std::u16string moduleFolder() {
  std::u16string path(4096, u'\0');
  const DWORD n = GetModuleFileNameW(nullptr, wide(path.data()), static_cast<DWORD>(path.size()));
  path.resize(n);
  return path.substr(0, path.rfind(u'\\'));
}

std::wstring w(const std::u16string& s) { return std::wstring(wide(s)); }

void setVariable(const char16_t* name, const std::optional<std::u16string>& value) {
  ASSERT_TRUE(SetEnvironmentVariableW(wide(name), value ? wide(*value) : nullptr));
}

DWORD attributesOf(const std::u16string& absolutePath) {
  return GetFileAttributesW(wide(u"\\\\?\\" + absolutePath));
}
bool folderExists(const std::u16string& absolutePath) {
  const DWORD attributes = attributesOf(absolutePath);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string folderFailure(std::uint32_t code) {
  return prefixedFailure(message::kFolderNotCreated, Error::system(code)).text;
}

// The system's error for opening `path` to read its attributes, as the attribute query opens it (no data access,
// folders too); 0 when it opens. GetFileAttributesW is no stand-in: Wine answers it for a missing share root with
// another code (66) than the open (3).
DWORD openForAttributesError(const std::u16string& path) {
  HANDLE handle = CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(handle);
  return 0;
}

std::vector<std::u16string> recordedPaths() {
  std::vector<std::u16string> paths;
  for (const auto& call : recorded) paths.push_back(call.path);
  return paths;
}
std::vector<DWORD> recordedErrors() {
  std::vector<DWORD> errors;
  for (const auto& call : recorded) errors.push_back(call.error);
  return errors;
}

class TargetFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char16_t* name : {u"QMT_DATA", u"LOCALAPPDATA"}) saved_.push_back(lookupEnvironmentVariable(show(name)));
    setVariable(u"QMT_DATA", std::nullopt);
    setVariable(u"LOCALAPPDATA", std::nullopt);
    savedDirectory_ = std::filesystem::current_path();
    recorded.clear();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::u16string scratchRoot = moduleFolder() + u"\\scratch";
    CreateDirectoryW(wide(scratchRoot), nullptr);
    scratch_ = scratchRoot + u"\\" + asciiToUtf16(info->name());
    removeTree(scratch_);
    ASSERT_TRUE(CreateDirectoryW(wide(scratch_), nullptr)) << GetLastError();
  }
  void TearDown() override {
    setVariable(u"QMT_DATA", saved_[0]);
    setVariable(u"LOCALAPPDATA", saved_[1]);
    std::filesystem::current_path(savedDirectory_);
  }

  std::u16string scratch_;
  std::vector<std::optional<std::u16string>> saved_;
  std::filesystem::path savedDirectory_;
};

TEST_F(TargetFolderTest, DefaultLocationCreatesProgramsThenQuillmart) {
  setVariable(u"LOCALAPPDATA", scratch_);
  Expected<std::u16string, SetupFailure> target = prepareRecorded();
  ASSERT_TRUE(target) << target.error().text;
  const std::u16string programs = scratch_ + u"\\Programs";
  EXPECT_EQ(*target, programs + u"\\Quillmart");
  EXPECT_TRUE(folderExists(*target));
  // An absolute path of ordinary length reaches the system unchanged.
  EXPECT_EQ(recordedPaths(), (std::vector<std::u16string>{*target, programs, *target}));
  EXPECT_EQ(recordedErrors(), (std::vector<DWORD>{ERROR_PATH_NOT_FOUND, 0, 0}));
}

TEST_F(TargetFolderTest, SecondRunFindsTheFolder) {
  setVariable(u"LOCALAPPDATA", scratch_);
  ASSERT_TRUE(prepareTargetFolder());  // the production path, without the recording call
  ASSERT_TRUE(folderExists(scratch_ + u"\\Programs\\Quillmart"));
  Expected<std::u16string, SetupFailure> again = prepareRecorded();
  ASSERT_TRUE(again) << again.error().text;
  EXPECT_EQ(recordedErrors(), (std::vector<DWORD>{ERROR_ALREADY_EXISTS}));
}

TEST_F(TargetFolderTest, NeitherVariableDefined) {
  Expected<std::u16string, SetupFailure> target = prepareRecorded();
  ASSERT_FALSE(target);
  EXPECT_EQ(target.error().text, "Der Ordner LOCALAPPDATA wurde nicht gefunden.");
  EXPECT_TRUE(recorded.empty());
}

TEST_F(TargetFolderTest, QmtDataWinsOverLocalAppData) {
  setVariable(u"QMT_DATA", scratch_ + u"\\data\\");
  setVariable(u"LOCALAPPDATA", scratch_ + u"\\local");
  Expected<std::u16string, SetupFailure> target = prepareRecorded();
  ASSERT_TRUE(target) << target.error().text;
  EXPECT_EQ(*target, scratch_ + u"\\data\\programme");
  EXPECT_TRUE(folderExists(*target));
  EXPECT_FALSE(folderExists(scratch_ + u"\\local"));
}

TEST_F(TargetFolderTest, FileWhereTheFolderShouldBe) {
  setVariable(u"LOCALAPPDATA", scratch_);
  ASSERT_TRUE(CreateDirectoryW(wide(scratch_ + u"\\Programs"), nullptr));
  HANDLE file = CreateFileW(wide(scratch_ + u"\\Programs\\Quillmart"), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                            nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  Expected<std::u16string, SetupFailure> target = prepareRecorded();
  ASSERT_FALSE(target);
  EXPECT_EQ(target.error().text, folderFailure(183));
  EXPECT_TRUE(target.error().text.starts_with("Der Programmordner konnte nicht angelegt werden: "));
  EXPECT_TRUE(target.error().text.ends_with(" (os error 183)"));
  EXPECT_EQ(recorded.size(), 1u);
  EXPECT_FALSE(folderExists(scratch_ + u"\\Programs\\Quillmart"));
}

TEST_F(TargetFolderTest, MissingDriveReportsTheOutermostFolder) {
  ASSERT_EQ(GetFileAttributesW(L"Q:\\"), INVALID_FILE_ATTRIBUTES) << "drive Q: exists here";
  setVariable(u"QMT_DATA", u"Q:\\data");
  Expected<std::u16string, SetupFailure> target = prepareRecorded();
  ASSERT_FALSE(target);
  EXPECT_EQ(recordedPaths(), (std::vector<std::u16string>{u"Q:\\data\\programme", u"Q:\\data", u"Q:\\data"}));
  // The drive root itself is never handed to CreateDirectoryW; the error is that of Q:\data.
  EXPECT_EQ(target.error().text, folderFailure(recorded.back().error));
  // Wine reports a folder directly below a missing drive's root as a missing file, Windows as a missing path.
  EXPECT_EQ(recorded.back().error, test::underWine() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
}

TEST_F(TargetFolderTest, LongPathIsCreatedInExtendedForm) {
  std::u16string data = scratch_;
  while (data.size() < 300 - 10) data += u"\\" + std::u16string(40, u'L');
  setVariable(u"QMT_DATA", data);
  Expected<std::u16string, SetupFailure> target = prepareRecorded();
  ASSERT_TRUE(target) << target.error().text;
  ASSERT_GE(target->size(), 300u);
  EXPECT_TRUE(folderExists(*target));
  // Exactly the paths of 248 units or more (with their NUL) go to the system in extended form.
  for (const auto& call : recorded) {
    const bool extended = call.path.starts_with(u"\\\\?\\");
    const std::size_t original = call.path.size() - (extended ? 4 : 0);
    EXPECT_EQ(extended, original + 1 >= 248) << show(call.path);
  }
  EXPECT_EQ(recorded.back().path, u"\\\\?\\" + *target);
}

TEST_F(TargetFolderTest, ShareRootsAreQueriedAndNeverCreated) {
  // QMT_DATA=\\nas makes the share root \\nas\programme the target: it cannot be created, so it must exist, and
  // the attribute query's error is the failure. Below a share root, the root itself is never created either.
  const struct {
    std::u16string data, target;
    bool targetIsRoot;
  } cases[] = {
      {u"\\\\nas", u"\\\\nas\\programme", true},
      {u"//nas", u"//nas\\programme", true},
      {u"\\\\?\\UNC\\nas", u"\\\\?\\UNC\\nas\\programme", true},
      {u"//nas/share", u"//nas/share\\programme", false},
      {u"/\\nas\\share/", u"/\\nas\\share/programme", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(show(c.data));
    recorded.clear();
    setVariable(u"QMT_DATA", c.data);
    Expected<std::u16string, SetupFailure> target = prepareRecorded();
    ASSERT_FALSE(target);
    if (c.targetIsRoot) {
      EXPECT_EQ(recordedPaths(), std::vector<std::u16string>{});
      const DWORD error = openForAttributesError(c.target);
      ASSERT_NE(error, 0u) << "a share " << show(c.target) << " exists here";
      EXPECT_EQ(target.error().text, folderFailure(error));
    } else {
      ASSERT_FALSE(recorded.empty());
      for (const auto& path : recordedPaths()) EXPECT_EQ(path, c.target);
      EXPECT_EQ(target.error().text, folderFailure(recorded.back().error));
    }
  }
}

TEST_F(TargetFolderTest, RelativeAndEmptyDataFollowTheCurrentFolder) {
  const struct {
    const char* name;
    std::u16string data, target;
    std::u16string created;  // below the current folder
  } cases[] = {
      {"empty", u"", u"programme", u"programme"},
      {"relative", u"rel\\data", u"rel\\data\\programme", u"rel\\data\\programme"},
      {"dot", u".\\dot", u".\\dot\\programme", u"dot\\programme"},
      {"bare drive of the current folder", scratch_.substr(0, 2), scratch_.substr(0, 2) + u"programme", u"programme"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string current = scratch_ + u"\\" + asciiToUtf16(c.name);
    ASSERT_TRUE(CreateDirectoryW(wide(current), nullptr));
    std::filesystem::current_path(w(current));
    recorded.clear();
    setVariable(u"QMT_DATA", c.data);
    Expected<std::u16string, SetupFailure> target = prepareRecorded();
    ASSERT_TRUE(target) << target.error().text;
    EXPECT_EQ(*target, c.target);
    // Resolved against the current folder at each call, handed over in extended form.
    const std::u16string resolved = current + u"\\" + c.created;
    EXPECT_TRUE(folderExists(resolved));
    ASSERT_FALSE(recorded.empty());
    EXPECT_EQ(recorded.back().path, u"\\\\?\\" + resolved);
  }
}

TEST_F(TargetFolderTest, UnpairedSurrogateReachesCreateDirectoryUnchanged) {
  const std::u16string odd = scratch_ + u"\\" + char16_t(0xD800) + u"x" + char16_t(0xDFFF);
  setVariable(u"QMT_DATA", odd);
  ASSERT_EQ(lookupEnvironmentVariable("QMT_DATA"), odd);
  Expected<std::u16string, SetupFailure> target = prepareRecorded();
  const std::u16string expected = odd + u"\\programme";
  ASSERT_GE(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].path, expected);
  EXPECT_EQ(recorded[1].path, odd);
  if (test::underWine()) {
    // Wine cannot make such a name; the units still arrived exactly, and its error is reported.
    ASSERT_FALSE(target);
    EXPECT_EQ(recorded.back().error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(target.error().text, folderFailure(ERROR_FILE_NOT_FOUND));
  } else {
    ASSERT_TRUE(target) << target.error().text;
    EXPECT_EQ(*target, expected);
    EXPECT_TRUE(folderExists(expected));
  }
}

TEST_F(TargetFolderTest, NulInThePathFailsBeforeAnySystemCall) {
  struct WithNul final : VariableSource {
    std::u16string value;
    std::optional<std::u16string> lookup(std::string_view) override { return value; }
  } environment;
  environment.value = scratch_ + std::u16string(1, u'\0') + u"x";
  SystemFolderOperations operations(&recordingCreateDirectory);
  Expected<std::u16string, SetupFailure> target = prepareTargetFolderWith(environment, operations);
  ASSERT_FALSE(target);
  EXPECT_EQ(target.error().text,
            "Der Programmordner konnte nicht angelegt werden: strings passed to WinAPI cannot contain NULs");
  EXPECT_TRUE(recorded.empty());
  EXPECT_FALSE(isDirectory(environment.value));
}

TEST_F(TargetFolderTest, HugeValueEndsWithAnError) {
  const std::u16string data = scratch_ + u"\\" + std::u16string(40000 - scratch_.size() - 1, u'x');
  ASSERT_EQ(data.size(), 40000u);
  if (!test::underWine()) {
    // Windows documents at most 32767 units for one variable and refuses the value; Wine keeps its first 32766.
    EXPECT_FALSE(SetEnvironmentVariableW(L"QMT_DATA", wide(data)));
    return;
  }
  setVariable(u"QMT_DATA", data);
  const std::optional<std::u16string> held = blockValue(u"QMT_DATA");
  ASSERT_TRUE(held.has_value());
  EXPECT_TRUE(data.starts_with(*held));
  EXPECT_GE(held->size(), 32766u);
  ASSERT_TRUE(sameValue(lookupEnvironmentVariable("QMT_DATA"), held));
  // Too long for the system's counted strings: refused before any call, as Windows itself would.
  Expected<std::u16string, SetupFailure> target = prepareRecorded();
  ASSERT_FALSE(target);
  EXPECT_TRUE(recorded.empty());
  EXPECT_EQ(target.error().text, folderFailure(ERROR_FILENAME_EXCED_RANGE));
  std::printf("QMT_DATA of %zu units, %zu held by the environment\n", data.size(), held->size());
}

TEST_F(TargetFolderTest, LongestPathReachesTheSystem) {
  const std::u16string base = scratch_ + u"\\";
  const struct {
    std::size_t systemUnits;  // length of the extended-form path handed over, without its NUL
    bool reachesSystem;
  } cases[] = {{32765, true}, {32766, true}, {32767, false}, {40000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.systemUnits);
    recorded.clear();
    const std::u16string path = base + std::u16string(c.systemUnits - 4 - base.size(), u'y');
    Expected<void, Error> created = createOneDirectory(path, &recordingCreateDirectory);
    ASSERT_FALSE(created);
    EXPECT_EQ(recorded.size(), c.reachesSystem ? 1u : 0u);
    if (c.reachesSystem) {
      EXPECT_EQ(recorded[0].path.size(), c.systemUnits);
      EXPECT_EQ(created.error(), Error::system(recorded[0].error));
    } else {
      EXPECT_EQ(created.error(), Error::system(ERROR_FILENAME_EXCED_RANGE));
    }
  }
}

TEST_F(TargetFolderTest, IsDirectory) {
  ASSERT_TRUE(CreateDirectoryW(wide(scratch_ + u"\\folder"), nullptr));
  HANDLE file = CreateFileW(wide(scratch_ + u"\\file"), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  std::u16string deep = scratch_;
  while (deep.size() < 280) {
    deep += u"\\" + std::u16string(50, u'd');
    ASSERT_TRUE(CreateDirectoryW(wide(u"\\\\?\\" + deep), nullptr));
  }
  const struct {
    std::u16string path;
    bool directory;
  } cases[] = {
      {scratch_ + u"\\folder", true},
      {scratch_ + u"\\folder\\", true},
      {scratch_ + u"\\file", false},
      {scratch_ + u"\\missing", false},
      {scratch_ + u"\\missing\\deeper", false},
      {scratch_ + std::u16string(1, u'\0'), false},
      {scratch_.substr(0, 3), true},  // the drive root
      {deep, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(show(c.path));
    EXPECT_EQ(isDirectory(c.path), c.directory);
  }
}

// Starts the probe program, which reports what the setup's lookup of QMT_DATA finds in its inherited environment.
std::optional<std::optional<std::u16string>> lookupInChild(const std::u16string& scratch) {
  const std::u16string probe = moduleFolder() + u"\\environment_probe.exe";
  const std::u16string output = scratch + u"\\probe.out";
  std::u16string commandLine = u"\"" + probe + u"\" QMT_DATA \"" + output + u"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(wide(probe), wide(commandLine.data()), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW failed with " << GetLastError();
    return std::nullopt;
  }
  DWORD exitCode = 1;
  WaitForSingleObject(process.hProcess, 60000);
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(exitCode, 0u);
  std::string bytes;
  HANDLE file = CreateFileW(wide(output), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  char chunk[65536];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
  CloseHandle(file);
  if (bytes.empty()) return std::nullopt;
  if (bytes[0] == 'U') return std::optional<std::u16string>();
  std::u16string units((bytes.size() - 1) / 2, u'\0');
  std::memcpy(units.data(), bytes.data() + 1, units.size() * 2);
  return std::optional<std::u16string>(units);
}

TEST_F(TargetFolderTest, EnvironmentRoundTripIntoAChild) {
  const std::u16string lone{u'a', char16_t(0xD800), u'b', char16_t(0xDC00), char16_t(0xDC00), char16_t(0xD800)};
  const struct {
    const char* name;
    std::optional<std::u16string> value;
  } cases[] = {
      {"unpaired surrogates", lone},
      {"umlauts and a pair", u"C:\\B\u00FCro\\\U0001F600"},
      {"empty", u""},
      {"not defined", std::nullopt},
      {"511 units", std::u16string(511, u'a')},
      {"512 units", std::u16string(512, u'b')},
      {"600 units", std::u16string(600, u'c')},
      {"40000 units", std::u16string(40000, u'd')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Windows refuses a value beyond 32767 units (see HugeValueEndsWithAnError); Wine cuts it.
    if (c.value && c.value->size() > 32767 && !test::underWine()) continue;
    setVariable(u"QMT_DATA", c.value);
    // What the environment holds: the value itself, except that Wine cuts the 40000-unit one to 32766 units.
    const std::optional<std::u16string> held = blockValue(u"QMT_DATA");
    ASSERT_EQ(held.has_value(), c.value.has_value());
    if (held) {
      EXPECT_TRUE(c.value->starts_with(*held) && (*held == *c.value || held->size() >= 32766));
    }
    EXPECT_TRUE(sameValue(lookupEnvironmentVariable("QMT_DATA"), held));
    const std::optional<std::optional<std::u16string>> seen = lookupInChild(scratch_);
    ASSERT_TRUE(seen.has_value());
    EXPECT_TRUE(sameValue(*seen, held));
  }
}

}  // namespace
}  // namespace qmt
