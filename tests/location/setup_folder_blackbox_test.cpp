// The built setup under Wine, observed from outside: the target folder it makes, the box it shows when it
// cannot, and its exit status 0 in both cases.
#include <gtest/gtest.h>

#include <string>

#include "blackbox_test.h"
#include "runtime/text.h"
#include "setup/failure.h"
#include "under_wine.h"

namespace qmt::test {
namespace {

// The box text for a folder that could not be created with system error `code`.
std::wstring folderBox(std::uint32_t code) {
  return utf16Of(prefixedFailure(message::kFolderNotCreated, Error::system(code)).text);
}

SetupOutcome runWith(std::vector<EnvChange> env, const std::wstring& workingDirectory = {}) {
  SetupRun run = setupRun();
  run.env = std::move(env);
  run.workingDirectory = workingDirectory;
  SetupOutcome outcome = runSetupExe(run);
  EXPECT_EQ(outcome.startError, 0u);
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, 0u);
  return outcome;
}

TEST(SetupFolderTest, CreatesProgramsThenQuillmartAndRepeats) {
  const std::wstring local = scratchFolder();
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    SetupOutcome outcome = runWith({unsetVariable(L"QMT_DATA"), setVariable(L"LOCALAPPDATA", local)});
    EXPECT_EQ(outcome.boxText, std::nullopt);
    EXPECT_EQ(listFolder(local), std::vector<std::wstring>{L"Programs\\"});
    EXPECT_EQ(listFolder(local + L"\\Programs"), std::vector<std::wstring>{L"Quillmart\\"});
  }
}

TEST(SetupFolderTest, EmptyDataMeansProgrammeInTheWorkingFolder) {
  const std::wstring folder = scratchFolder();
  SetupOutcome outcome = runWith({setVariable(L"QMT_DATA", L""), unsetVariable(L"LOCALAPPDATA")}, folder);
  EXPECT_EQ(outcome.boxText, std::nullopt);
  EXPECT_EQ(listFolder(folder), std::vector<std::wstring>{L"programme\\"});
}

// The error of opening `path` for its attributes, as the setup's query does (no data access, folders too); 0
// when it opens.
DWORD attributeError(const wchar_t* path) {
  HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(handle);
  return 0;
}

TEST(SetupFolderTest, ShareRootThatIsNotThereShowsTheFolderBox) {
  // QMT_DATA=\\nas: the target \\nas\programme is a share root, which is never created; it is not there, so the
  // folder step fails with the attribute query's error before anything is unpacked.
  const std::wstring folder = scratchFolder();
  const DWORD error = attributeError(L"\\\\nas\\programme");
  ASSERT_NE(error, 0u) << "a share \\\\nas\\programme exists here";
  SetupOutcome outcome = runWith({setVariable(L"QMT_DATA", L"\\\\nas")}, folder);
  EXPECT_EQ(outcome.boxText, folderBox(error));
  EXPECT_TRUE(listFolder(folder).empty());
}

TEST(SetupFolderTest, FailuresShowTheFolderBox) {
  const std::wstring folder = scratchFolder();
  ASSERT_TRUE(CreateDirectoryW((folder + L"\\Programs").c_str(), nullptr));
  ASSERT_TRUE(writeBytes(folder + L"\\Programs\\Quillmart", "not a folder"));
  const std::wstring lone = folder + L"\\" + wchar_t(0xD800) + L"x";
  const struct {
    const char* name;
    std::vector<EnvChange> env;
    std::optional<std::wstring> box;
  } cases[] = {
      {"a file named Quillmart", {unsetVariable(L"QMT_DATA"), setVariable(L"LOCALAPPDATA", folder)}, folderBox(183)},
      // A folder directly below a missing drive's root: Wine reports a missing file, Windows a missing path.
      {"a drive that does not exist", {setVariable(L"QMT_DATA", L"Q:\\data")}, folderBox(underWine() ? 2 : 3)},
      // Wine cannot make a name holding an unpaired surrogate; Windows can, and the setup succeeds.
      {"an unpaired surrogate", {setVariable(L"QMT_DATA", lone)},
       underWine() ? std::optional<std::wstring>(folderBox(2)) : std::nullopt},
      {"no variable at all", {unsetVariable(L"QMT_DATA"), unsetVariable(L"LOCALAPPDATA")},
       L"Der Ordner LOCALAPPDATA wurde nicht gefunden."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetupOutcome outcome = runWith(c.env);
    EXPECT_EQ(outcome.boxText, c.box);
  }
  EXPECT_EQ(readBytes(folder + L"\\Programs\\Quillmart"), "not a folder");
}

}  // namespace
}  // namespace qmt::test
