// The built setup run as a user would, under Wine: a fresh folder, a chosen environment and command line, then its
// exit status, its message box, the files it left and what the started demo application reports about how it was
// started (command line, argv as the C runtime and the shell split it, working folder, environment, handles).
#include <gmock/gmock.h>

#include <chrono>
#include <thread>

#include "blackbox_test.h"
#include "started_application.h"
#include "setup/failure.h"

namespace qmt::test {
namespace {

using qmt::testing::DemoReport;
using ::testing::ElementsAre;

// A setup run whose default location lies in a fresh folder, with the demo's report requested.
struct Installation {
  std::wstring root = scratchFolder();
  std::wstring target = root + L"\\local\\Programs\\Quillmart";
  std::wstring report = root + L"\\report.bin";

  SetupRun run(const std::vector<std::wstring>& arguments = {}) const {
    SetupRun r = setupRun(arguments);
    r.env = {setVariable(L"LOCALAPPDATA", root + L"\\local"), unsetVariable(L"QMT_DATA"),
             setVariable(L"QMT_DEMO_REPORT", report)};
    return r;
  }

  // The same for another setup executable of this build, given by its Unix path.
  SetupRun runOf(const char* setupExecutable) const {
    SetupRun r = run();
    r.exe = windowsPathOf(setupExecutable);
    r.commandLine = L"\"" + r.exe + L"\"";
    return r;
  }
};

void expectCleanExit(const SetupOutcome& outcome) {
  EXPECT_EQ(outcome.startError, 0u);
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.boxText, std::nullopt) << utf8Of(outcome.boxText.value_or(L""));
}

TEST(EndToEndTest, FirstRunInstallsBothFilesAndStartsTheApplicationWithoutArguments) {
  Installation install;
  expectCleanExit(runSetupExe(install.run()));
  EXPECT_THAT(listFolder(install.target), ElementsAre(L"Quillmart.exe", L"WebView2Loader.dll"));
  EXPECT_EQ(readBytes(install.target + L"\\Quillmart.exe"), readBytes(windowsPathOf(QMT_DEMO_APP)));
  EXPECT_EQ(readBytes(install.target + L"\\WebView2Loader.dll"), readBytes(windowsPathOf(QMT_DEMO_LOADER)));

  std::optional<DemoReport> report = waitForReport(install.report);
  ASSERT_TRUE(report.has_value()) << "the application was not started";
  const std::wstring program = install.target + L"\\Quillmart.exe";
  EXPECT_EQ(report->value("commandLine"), u16(L"\"" + program + L"\""));
  EXPECT_EQ(report->value("cwd"), u16(install.target));
  EXPECT_EQ(report->ascii("crtArgc"), "1");
  EXPECT_EQ(report->ascii("shellArgc"), "1");
  EXPECT_FALSE(report->has("env.QMT_DATA"));
}

TEST(EndToEndTest, ArgumentsReachTheApplicationUnchangedAndInOrder) {
  const struct {
    const char* name;
    std::wstring setupArguments;  // raw text after the setup's quoted name
    std::wstring applicationTail;  // what follows the application's quoted path
    std::vector<std::wstring> arguments;
  } cases[] = {
      {"the three-argument example", L" /s \"C:\\Program Files\\Q\" \"\"", L" /s \"C:\\Program Files\\Q\" \"\"",
       {L"/s", L"C:\\Program Files\\Q", L""}},
      {"blanks only", L"   \t ", L"", {}},
      {"quotes and backslashes", L" a\\\"b \"C:\\with blank\\\\\" x\\\\y",
       L" a\\\"b \"C:\\with blank\\\\\" x\\\\y", {L"a\"b", L"C:\\with blank\\", L"x\\\\y"}},
      {"quoted program-name style groups", L" \"a b\"c d\"\"e", L" \"a bc\" de", {L"a bc", L"de"}},
      {"umlauts and emoji", L" Gr\u00FC\u00DFe \U0001F600", L" Gr\u00FC\u00DFe \U0001F600",
       {L"Gr\u00FC\u00DFe", L"\U0001F600"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Installation install;
    SetupRun run = install.run();
    run.commandLine = L"\"" + run.exe + L"\"" + c.setupArguments;
    expectCleanExit(runSetupExe(run));
    std::optional<DemoReport> report = waitForReport(install.report);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->value("commandLine"), u16(L"\"" + install.target + L"\\Quillmart.exe\"" + c.applicationTail));
    std::vector<std::u16string> expected{u16(install.target + L"\\Quillmart.exe")};
    for (const auto& a : c.arguments) expected.push_back(u16(a));
    EXPECT_EQ(report->arguments("crt"), expected) << "as the C runtime splits it";
    EXPECT_EQ(report->arguments("shell"), expected) << "as CommandLineToArgvW splits it";
  }
}

TEST(EndToEndTest, RelativeDataFolderGivesARelativeProgramAndWorkingFolder) {
  const std::wstring root = scratchFolder();
  SetupRun run = setupRun({L"--flag"});
  run.workingDirectory = root;
  run.env = {setVariable(L"QMT_DATA", L"daten"), setVariable(L"QMT_DEMO_REPORT", root + L"\\report.bin")};
  expectCleanExit(runSetupExe(run));
  EXPECT_THAT(listFolder(root + L"\\daten\\programme"), ElementsAre(L"Quillmart.exe", L"WebView2Loader.dll"));
  std::optional<DemoReport> report = waitForReport(root + L"\\report.bin");
  ASSERT_TRUE(report.has_value());
  // The command line keeps the relative path; the process was created from its full form.
  EXPECT_EQ(report->value("commandLine"), u"\"daten\\programme\\Quillmart.exe\" --flag");
  EXPECT_EQ(report->value("cwd"), u16(root + L"\\daten\\programme"));
  EXPECT_EQ(report->value("env.QMT_DATA"), u"daten");
}

TEST(EndToEndTest, DataFolderWinsOverLocalAppDataAndReachesTheApplication) {
  Installation install;
  SetupRun run = install.run();
  run.env.push_back(setVariable(L"QMT_DATA", install.root + L"\\data\\"));
  expectCleanExit(runSetupExe(run));
  EXPECT_FALSE(exists(install.target));
  EXPECT_THAT(listFolder(install.root + L"\\data\\programme"), ElementsAre(L"Quillmart.exe", L"WebView2Loader.dll"));
  std::optional<DemoReport> report = waitForReport(install.report);
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->value("env.QMT_DATA"), u16(install.root + L"\\data\\"));
}

TEST(EndToEndTest, SecondRunLeavesIdenticalFilesUntouchedAndStartsTheApplicationAgain) {
  Installation install;
  expectCleanExit(runSetupExe(install.run()));
  ASSERT_TRUE(waitForReport(install.report).has_value());
  const auto appTime = lastWriteTime(install.target + L"\\Quillmart.exe");
  const auto loaderTime = lastWriteTime(install.target + L"\\WebView2Loader.dll");
  ASSERT_TRUE(appTime && loaderTime);
  DeleteFileW(install.report.c_str());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a rewrite would get a later time

  expectCleanExit(runSetupExe(install.run({L"again"})));
  EXPECT_EQ(lastWriteTime(install.target + L"\\Quillmart.exe"), appTime);
  EXPECT_EQ(lastWriteTime(install.target + L"\\WebView2Loader.dll"), loaderTime);
  EXPECT_THAT(listFolder(install.target), ElementsAre(L"Quillmart.exe", L"WebView2Loader.dll"));
  std::optional<DemoReport> report = waitForReport(install.report);
  ASSERT_TRUE(report.has_value()) << "the application was not started again";
  EXPECT_EQ(report->ascii("crtArgc"), "2");
}

TEST(EndToEndTest, SetupEndsWhileTheApplicationKeepsRunning) {
  Installation install;
  SetupRun run = install.run();
  run.env.push_back(setVariable(L"QMT_DEMO_LINGER_MS", L"8000"));
  expectCleanExit(runSetupExe(run));
  ASSERT_TRUE(waitForReport(install.report).has_value());
  // The application still runs from its file: Windows (and Wine) refuse to replace a running executable.
  const std::wstring copy = install.root + L"\\copy.exe";
  ASSERT_TRUE(CopyFileW((install.target + L"\\Quillmart.exe").c_str(), copy.c_str(), FALSE));
  EXPECT_FALSE(MoveFileExW(copy.c_str(), (install.target + L"\\Quillmart.exe").c_str(), MOVEFILE_REPLACE_EXISTING));
}

TEST(EndToEndTest, StandardHandlesArePassedOnOnlyWhereTheSetupHasThem) {
  const struct {
    const char* name;
    DWORD flags;
    bool redirectOutput;
    const char* in;
    const char* out;
    const char* err;
  } cases[] = {
      {"detached: no handles at all", DETACHED_PROCESS, false, "none", "none", "none"},
      {"standard output alone redirected to a file", 0, true, "none", "disk", "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Installation install;
    SetupRun run = install.run();
    run.creationFlags = c.flags;
    if (c.redirectOutput) run.stdoutFile = install.root + L"\\out.txt";
    // The runner hands the setup this process's input and error handles: hide them for the run, so that the
    // setup has a standard output and nothing else.
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE), error = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, nullptr);
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
    SetupOutcome outcome = runSetupExe(run);
    SetStdHandle(STD_INPUT_HANDLE, input);
    SetStdHandle(STD_ERROR_HANDLE, error);
    expectCleanExit(outcome);
    std::optional<DemoReport> report = waitForReport(install.report);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->ascii("stdin"), c.in);
    EXPECT_EQ(report->ascii("stdout"), c.out);
    EXPECT_EQ(report->ascii("stderr"), c.err);
  }
}

TEST(EndToEndTest, FailuresAreShownInOneBoxAndTheExitStatusIsStillZero) {
  Installation install;
  // Neither variable: nothing is created.
  SetupRun none = install.run();
  none.env.push_back(unsetVariable(L"LOCALAPPDATA"));
  SetupOutcome outcome = runSetupExe(none);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.boxText, utf16Of(message::kNoLocalAppData));
  EXPECT_FALSE(exists(install.root + L"\\local"));

  // A file where the folder should be.
  ASSERT_TRUE(CreateDirectoryW((install.root + L"\\local").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((install.root + L"\\local\\Programs").c_str(), nullptr));
  ASSERT_TRUE(writeBytes(install.target, "not a folder"));
  outcome = runSetupExe(install.run());
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.boxText, utf16Of(std::string(message::kFolderNotCreated) + formatSystemError(183)));
  EXPECT_FALSE(exists(install.report));
}

TEST(EndToEndTest, FailureWhilePlacingTheApplicationKeepsTheLoaderAndStartsNothing) {
  Installation install;
  // A folder under the application's new-version name: it cannot be opened as a file.
  for (const wchar_t* level : {L"\\local", L"\\local\\Programs", L"\\local\\Programs\\Quillmart",
                               L"\\local\\Programs\\Quillmart\\Quillmart.neu"}) {
    ASSERT_TRUE(CreateDirectoryW((install.root + level).c_str(), nullptr));
  }
  SetupOutcome outcome = runSetupExe(install.run());
  EXPECT_EQ(outcome.exitCode, 0u);
  ASSERT_TRUE(outcome.boxText.has_value());
  EXPECT_TRUE(outcome.boxText->starts_with(utf16Of(message::kNotUnpacked))) << utf8Of(*outcome.boxText);
  EXPECT_EQ(readBytes(install.target + L"\\WebView2Loader.dll"), readBytes(windowsPathOf(QMT_DEMO_LOADER)));
  EXPECT_FALSE(exists(install.target + L"\\Quillmart.exe"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(exists(install.report));
}

TEST(EndToEndTest, DamagedFirstStreamPlacesNothingAndStartsNothing) {
  Installation install;
  SetupOutcome outcome = runSetupExe(install.runOf(QMT_DAMAGED_SETUP_EXE));
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.boxText, utf16Of(message::kDamaged));
  EXPECT_TRUE(listFolder(install.target).empty()) << "the folder is prepared, nothing is placed";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(exists(install.report));
}

TEST(EndToEndTest, UnstartableApplicationIsReportedAndBothFilesStay) {
  Installation install;
  SetupOutcome outcome = runSetupExe(install.runOf(QMT_UNSTARTABLE_SETUP_EXE));
  EXPECT_EQ(outcome.exitCode, 0u);
  // A text file named Quillmart.exe: not a valid application (ERROR_BAD_EXE_FORMAT).
  EXPECT_EQ(outcome.boxText, utf16Of(std::string(message::kNotStarted) + formatSystemError(193)));
  EXPECT_THAT(listFolder(install.target), ElementsAre(L"Quillmart.exe", L"WebView2Loader.dll"));
}

}  // namespace
}  // namespace qmt::test
