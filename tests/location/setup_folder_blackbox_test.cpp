// The built setup under Wine, observed from outside: the target folder it makes, the box it shows when it
// cannot, and its exit status 0 in both cases.
#include <gtest/gtest.h>

#include <string>

#include "blackbox_test.h"
#include "runtime/text.h"
#include "setup/failure.h"

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

TEST(SetupFolderTest, FailuresShowTheFolderBox) {
  const std::wstring folder = scratchFolder();
  ASSERT_TRUE(CreateDirectoryW((folder + L"\\Programs").c_str(), nullptr));
  ASSERT_TRUE(writeBytes(folder + L"\\Programs\\Quillmart", "not a folder"));
  const std::wstring lone = folder + L"\\" + wchar_t(0xD800) + L"x";
  const struct {
    const char* name;
    std::vector<EnvChange> env;
    std::wstring box;
  } cases[] = {
      {"a file named Quillmart", {unsetVariable(L"QMT_DATA"), setVariable(L"LOCALAPPDATA", folder)}, folderBox(183)},
      {"a drive that does not exist", {setVariable(L"QMT_DATA", L"Q:\\data")}, folderBox(2)},
      // Wine cannot make a name holding an unpaired surrogate.
      {"an unpaired surrogate", {setVariable(L"QMT_DATA", lone)}, folderBox(2)},
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
