#include "launch/std_handles.h"

#include <gtest/gtest.h>

#include "launch/start_process.h"
#include "launch_test_support.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

class StdHandlesTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = GetStdHandle(STD_ERROR_HANDLE); }
  void TearDown() override { SetStdHandle(STD_ERROR_HANDLE, saved_); }
  HANDLE saved_ = nullptr;
};

TEST_F(StdHandlesTest, MissingHandleIsNoHandle) {
  for (HANDLE own : {HANDLE(nullptr), INVALID_HANDLE_VALUE}) {
    SetStdHandle(STD_ERROR_HANDLE, own);
    auto handle = inheritableStdHandle(STD_ERROR_HANDLE);
    ASSERT_TRUE(handle.has_value());
    EXPECT_EQ(handle->get(), nullptr);
  }
}

TEST_F(StdHandlesTest, DuplicateIsInheritableWithTheSameAccess) {
  const HANDLE file = CreateFileW(wide(test::workFolder() + u"\\std-handle.txt"), GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  SetStdHandle(STD_ERROR_HANDLE, file);
  auto handle = inheritableStdHandle(STD_ERROR_HANDLE);
  ASSERT_TRUE(handle.has_value());
  ASSERT_TRUE(*handle);
  EXPECT_NE(handle->get(), file);
  DWORD flags = 0;
  ASSERT_TRUE(GetHandleInformation(handle->get(), &flags));
  EXPECT_TRUE(flags & HANDLE_FLAG_INHERIT);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(handle->get(), "dup", 3, &written, nullptr));  // write access kept
  char byte = 0;
  DWORD read = 0;
  EXPECT_FALSE(ReadFile(handle->get(), &byte, 1, &read, nullptr));  // no access added
  handle->reset();
  CloseHandle(file);
  EXPECT_EQ(test::fileBytes(test::workFolder() + u"\\std-handle.txt"), "dup");
}

// A standard handle value that names no object (a careless parent) cannot be duplicated (ERROR_INVALID_HANDLE):
// it counts as missing, and the program is started without it.
TEST_F(StdHandlesTest, HandleNamingNoObjectIsNoHandle) {
  SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(0x7770));
  auto handle = inheritableStdHandle(STD_ERROR_HANDLE);
  ASSERT_TRUE(handle.has_value());
  EXPECT_EQ(handle->get(), nullptr);

  const std::u16string report = test::prepareReport(u"started-without-error-handle");
  auto started = startProcess({test::reporterPath(), {}, std::nullopt});
  ASSERT_TRUE(started.has_value()) << started.error().code;
  EXPECT_EQ(test::waitForExit(started->processHandle.get()), 0u);
  auto received = test::readReport(report);
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(received->stdHandles.substr(2), u"0");
}

// Real processes: std_starter is started with chosen standard handles and starts argv_reporter through
// startProcess; the reporter tells which standard handles it received.
struct StarterRun {
  DWORD exitCode = 0;
  std::u16string stdHandles;
  std::string output;
};

StarterRun runStarter(DWORD flags, bool outputToFile) {
  const std::u16string outputPath = test::workFolder() + u"\\starter-output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE output = CreateFileW(wide(outputPath), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (outputToFile) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
  }
  const std::u16string reportPath = test::prepareReport(u"starter");
  std::u16string commandLine(1, u'"');
  commandLine.append(test::starterPath()).append(u"\" \"").append(test::reporterPath()).push_back(u'"');
  PROCESS_INFORMATION info{};
  StarterRun run;
  if (!CreateProcessW(wide(test::starterPath()), wide(commandLine.data()), nullptr, nullptr, TRUE,
                      flags | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &info)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    CloseHandle(output);
    return run;
  }
  CloseHandle(output);
  run.exitCode = test::waitForExit(info.hProcess);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  if (auto report = test::readReport(reportPath)) run.stdHandles = report->stdHandles;
  run.output = test::fileBytes(outputPath);
  return run;
}

TEST(StdHandlesRealTest, CallerWithOnlyOutputRedirectedPassesOnlyOutput) {
  const StarterRun run = runStarter(0, true);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.stdHandles, u"010");
  EXPECT_EQ(run.output, "reporter\n");
}

TEST(StdHandlesRealTest, CallerWithoutStdHandlesPassesNone) {
  const StarterRun run = runStarter(DETACHED_PROCESS, false);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.stdHandles, u"000");
  EXPECT_EQ(run.output, "");
}

}  // namespace
}  // namespace qmt
