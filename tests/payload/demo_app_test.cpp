// The demo Quillmart.exe of the demo payload, started for real under Wine: what it reports, that it needs the
// loader library beside it, and that it lingers when asked.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "harness/demo_report.h"

namespace qmt {
namespace {

using testing::DemoReport;
namespace fs = std::filesystem;

const std::wstring kDemoApp = L"Z:" QMT_TEST_DEMO_APP_W;
const std::wstring kDemoLoader = L"Z:" QMT_TEST_DEMO_LOADER_W;
constexpr DWORD kStatusDllNotFound = 0xC0000135;

class DemoApp : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = fs::path(temp) / (L"qmt-demo-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(GetTickCount64()));
    fs::create_directories(folder_);
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"QMT_DEMO_REPORT", nullptr);
    SetEnvironmentVariableW(L"QMT_DEMO_LINGER_MS", nullptr);
    SetEnvironmentVariableW(L"QMT_DATA", nullptr);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // Starts `program` with `commandLine` in `cwd`, its standard output going to a file in the test folder.
  PROCESS_INFORMATION start(const std::wstring& program, std::wstring commandLine, const fs::path& cwd) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE out = CreateFileW((folder_ / L"stdout.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                   CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(out, INVALID_HANDLE_VALUE);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process{};
    const BOOL created = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        cwd.c_str(), &startup, &process);
    CloseHandle(out);
    EXPECT_TRUE(created) << GetLastError();
    return process;
  }

  static DWORD finish(PROCESS_INFORMATION& process) {
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
  }

  std::string standardOutput() const {
    std::ifstream in(folder_ / L"stdout.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path folder_;
};

TEST_F(DemoApp, ReportsItsCommandLineFolderEnvironmentAndHandles) {
  const fs::path report = folder_ / L"report.bin";
  SetEnvironmentVariableW(L"QMT_DEMO_REPORT", report.c_str());
  SetEnvironmentVariableW(L"QMT_DATA", L"D:\\Daten \u00e4\u00df");
  const std::wstring commandLine = L"\"" + kDemoApp + L"\" plain \"with blank\" \"quote\\\"d\" \u00fc\u00df";
  PROCESS_INFORMATION process = start(kDemoApp, commandLine, folder_);
  ASSERT_EQ(finish(process), 0u);

  const auto parsed = DemoReport::load(report);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_FALSE(fs::exists(folder_ / L"report.bin.tmp"));
  EXPECT_EQ(parsed->value("commandLine"), std::u16string(commandLine.begin(), commandLine.end()));
  const std::wstring cwd = folder_.wstring();
  EXPECT_EQ(parsed->value("cwd"), std::u16string(cwd.begin(), cwd.end()));
  const std::vector<std::u16string> expected = {std::u16string(kDemoApp.begin(), kDemoApp.end()), u"plain",
                                                u"with blank", u"quote\"d", u"\u00fc\u00df"};
  EXPECT_EQ(parsed->arguments("crt"), expected);
  EXPECT_EQ(parsed->arguments("shell"), expected);
  EXPECT_EQ(parsed->value("env.QMT_DATA"), u"D:\\Daten \u00e4\u00df");
  EXPECT_EQ(parsed->ascii("stdin"), "none");
  EXPECT_EQ(parsed->ascii("stdout"), "disk");
  EXPECT_EQ(parsed->ascii("stderr"), "disk");
  EXPECT_EQ(parsed->ascii("loader"), "0x80004001");  // the stand-in's E_NOTIMPL
  EXPECT_EQ(parsed->ascii("edition"), "1");
  EXPECT_NE(standardOutput().find("Quillmart demo 1: started with 4 argument(s)"), std::string::npos)
      << standardOutput();
}

TEST_F(DemoApp, LeavesOutQmtDataWhenItIsUnset) {
  const fs::path report = folder_ / L"report.bin";
  SetEnvironmentVariableW(L"QMT_DEMO_REPORT", report.c_str());
  PROCESS_INFORMATION process = start(kDemoApp, L"Quillmart.exe", folder_);
  ASSERT_EQ(finish(process), 0u);
  const auto parsed = DemoReport::load(report);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_FALSE(parsed->has("env.QMT_DATA"));
  EXPECT_EQ(parsed->ascii("crtArgc"), "1");
}

TEST_F(DemoApp, DoesNotStartWithoutTheLoaderBesideIt) {
  const fs::path alone = folder_ / L"Quillmart.exe";
  ASSERT_TRUE(CopyFileW(kDemoApp.c_str(), alone.c_str(), TRUE));
  const fs::path report = folder_ / L"report.bin";
  SetEnvironmentVariableW(L"QMT_DEMO_REPORT", report.c_str());
  PROCESS_INFORMATION process = start(alone.wstring(), L"Quillmart.exe", folder_);
  EXPECT_EQ(finish(process), kStatusDllNotFound);
  EXPECT_FALSE(fs::exists(report));

  // With the stand-in library copied beside it, the same copy starts.
  ASSERT_TRUE(CopyFileW(kDemoLoader.c_str(), (folder_ / L"WebView2Loader.dll").c_str(), TRUE));
  PROCESS_INFORMATION again = start(alone.wstring(), L"Quillmart.exe", folder_);
  EXPECT_EQ(finish(again), 0u);
  EXPECT_TRUE(fs::exists(report));
}

TEST_F(DemoApp, LingersWhenAsked) {
  SetEnvironmentVariableW(L"QMT_DEMO_LINGER_MS", L"2000");
  PROCESS_INFORMATION process = start(kDemoApp, L"Quillmart.exe", folder_);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(finish(process), 0u);
}

// Started as from Explorer (no standard handles, no report or linger variables): a window with the report that
// closes by itself, after which the application exits.
TEST_F(DemoApp, ShowsAWindowThatClosesByItselfWhenStartedWithoutHandles) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring commandLine = L"Quillmart.exe";
  ASSERT_TRUE(CreateProcessW(kDemoApp.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                             nullptr, folder_.c_str(), &startup, &process));
  HWND window = nullptr;
  for (int i = 0; i < 100 && window == nullptr; ++i) {
    Sleep(50);
    window = FindWindowW(L"QuillmartDemoWindow", L"Quillmart Demo");
  }
  EXPECT_NE(window, nullptr);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(finish(process), 0u);  // ends by itself, a few seconds later
  EXPECT_FALSE(IsWindow(window));
}

}  // namespace
}  // namespace qmt
