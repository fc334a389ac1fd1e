// Quillmart-Setup.exe started as a user would: a fresh profile, the failure box read back exactly, exit status 0
// after success and after a reported failure alike.
#include "blackbox_test.h"

namespace qmt::test {
namespace {

TEST(SetupSmokeTest, FreshLocalAppDataRunsWithoutBoxAndExitsZero) {
  std::wstring profile = scratchFolder() + L"\\Local";
  ASSERT_TRUE(CreateDirectoryW(profile.c_str(), nullptr));
  SetupRun run = setupRun();
  run.env = {unsetVariable(L"QMT_DATA"), setVariable(L"LOCALAPPDATA", profile)};
  SetupOutcome outcome = runSetupExe(run);
  ASSERT_EQ(outcome.startError, 0u);
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.boxText, std::nullopt);
  EXPECT_EQ(outcome.exitCode, 0u);
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
