// Quillmart-Setup.exe started as a user would: a fresh profile, the failure box read back exactly, exit status 0
// after success and after a reported failure alike.
#include <gmock/gmock.h>

#include "blackbox_test.h"

namespace qmt::test {
namespace {

// The demo application writes its report once started; it runs on after the setup has ended.
bool appearsWithin(const std::wstring& path, DWORD timeoutMs) {
  for (DWORD waited = 0; !exists(path); waited += 50) {
    if (waited >= timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

TEST(SetupSmokeTest, FreshLocalAppDataInstallsBothFilesStartsTheApplicationAndExitsZero) {
  std::wstring folder = scratchFolder();
  std::wstring profile = folder + L"\\Local";
  ASSERT_TRUE(CreateDirectoryW(profile.c_str(), nullptr));
  SetupRun run = setupRun();
  run.env = {unsetVariable(L"QMT_DATA"), setVariable(L"LOCALAPPDATA", profile),
             setVariable(L"QMT_DEMO_REPORT", folder + L"\\report")};
  SetupOutcome outcome = runSetupExe(run);
  ASSERT_EQ(outcome.startError, 0u);
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.boxText, std::nullopt);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_THAT(listFolder(profile + L"\\Programs\\Quillmart"),
              ::testing::ElementsAre(L"Quillmart.exe", L"WebView2Loader.dll"));
  EXPECT_TRUE(appearsWithin(folder + L"\\report", 10000)) << "the installed application did not report";
}

TEST(SetupSmokeTest, MissingLocalAppDataIsReportedAndExitsZero) {
  SetupRun run = setupRun({L"ein Argument"});
  run.env = {unsetVariable(L"QMT_DATA"), unsetVariable(L"LOCALAPPDATA")};
  SetupOutcome outcome = runSetupExe(run);
  ASSERT_EQ(outcome.startError, 0u);
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.boxText, L"Der Ordner LOCALAPPDATA wurde nicht gefunden.");
  EXPECT_EQ(outcome.exitCode, 0u);
}

}  // namespace
}  // namespace qmt::test
