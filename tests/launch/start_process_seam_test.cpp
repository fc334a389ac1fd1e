// What startProcess hands to CreateProcessW and DuplicateHandle, observed through replacement calls: the
// STARTUPINFOW for each set of standard handles the caller has, the lock around the creation, and the closing of
// every duplicate on success and on each failure path. Standard handles are set with SetStdHandle; Wine cannot
// make DuplicateHandle fail for a valid handle or CreateProcessW fail after the duplicates exist on demand.
#include "launch/start_process.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "launch/process_creation_lock.h"
#include "launch_test_support.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

// What the replacement CreateProcessW saw.
struct CreateCall {
  int count = 0;
  std::u16string applicationName, commandLine, currentDirectory;
  bool hasCurrentDirectory = false;
  BOOL inheritHandles = FALSE;
  DWORD flags = 0;
  bool environmentNull = false, attributesNull = false;
  STARTUPINFOW startup{};
  std::array<bool, 3> inheritable{};
  bool lockHeld = false;
  BOOL result = TRUE;
  DWORD error = 0;
};
CreateCall created;

bool isInheritable(HANDLE handle) {
  DWORD flags = 0;
  return handle != nullptr && GetHandleInformation(handle, &flags) && (flags & HANDLE_FLAG_INHERIT) != 0;
}

bool lockIsHeld() {
  if (!TryAcquireSRWLockExclusive(&processCreationLock)) return true;
  ReleaseSRWLockExclusive(&processCreationLock);
  return false;
}

bool isOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

BOOL WINAPI recordingCreateProcess(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES process,
                                   LPSECURITY_ATTRIBUTES thread, BOOL inheritHandles, DWORD flags, LPVOID environment,
                                   LPCWSTR currentDirectory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
  CreateCall& c = created;
  ++c.count;
  c.applicationName = fromWide(applicationName);
  c.commandLine = fromWide(commandLine);
  commandLine[0] = L'"';  // the buffer is writable
  c.hasCurrentDirectory = currentDirectory != nullptr;
  if (currentDirectory) c.currentDirectory = fromWide(currentDirectory);
  c.inheritHandles = inheritHandles;
  c.flags = flags;
  c.environmentNull = environment == nullptr;
  c.attributesNull = process == nullptr && thread == nullptr;
  c.startup = *startup;
  c.inheritable = {isInheritable(startup->hStdInput), isInheritable(startup->hStdOutput),
                   isInheritable(startup->hStdError)};
  c.lockHeld = lockIsHeld();
  if (!c.result) {
    SetLastError(c.error);
    return FALSE;
  }
  // Stand-ins for the new process's handles, which the caller will close.
  info->hProcess = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  info->hThread = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return TRUE;
}

// Duplicates made through the replacement DuplicateHandle; the call numbered `failAt` (from 1), and every call
// whose bit (1 << number) is in `failMask`, fails instead with `failError`.
struct DuplicateCalls {
  int count = 0;
  int failAt = 0;
  unsigned failMask = 0;
  DWORD failError = ERROR_NOT_ENOUGH_QUOTA;
  std::vector<HANDLE> made;
};
DuplicateCalls duplicates;

BOOL WINAPI recordingDuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                                     DWORD access, BOOL inherit, DWORD options) {
  ++duplicates.count;
  if (duplicates.count == duplicates.failAt || (duplicates.failMask & (1u << duplicates.count)) != 0) {
    SetLastError(duplicates.failError);
    return FALSE;
  }
  const BOOL ok = DuplicateHandle(sourceProcess, source, targetProcess, target, access, inherit, options);
  if (ok) duplicates.made.push_back(*target);
  return ok;
}

constexpr ProcessCreationCalls kRecording{&recordingDuplicateHandle, &recordingCreateProcess};

class StartProcessThroughSeamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::size_t i = 0; i < 3; ++i) saved_[i] = GetStdHandle(kWhich[i]);
    created = {};
    duplicates = {};
    file_ = CreateFileW(wide(test::workFolder() + u"\\seam-output.txt"), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file_, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    for (std::size_t i = 0; i < 3; ++i) SetStdHandle(kWhich[i], saved_[i]);
    CloseHandle(file_);
  }
  void setStdHandles(HANDLE input, HANDLE output, HANDLE error) {
    SetStdHandle(STD_INPUT_HANDLE, input);
    SetStdHandle(STD_OUTPUT_HANDLE, output);
    SetStdHandle(STD_ERROR_HANDLE, error);
  }
  ProcessSpec request() const { return {u"C:\\apps\\Q.exe", {u"/s", u"a b"}, u"C:\\apps"}; }

  static constexpr DWORD kWhich[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  HANDLE saved_[3] = {};
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

TEST_F(StartProcessThroughSeamTest, CallsCreateProcessWithTheFixedParameters) {
  setStdHandles(nullptr, file_, nullptr);
  auto started = startProcessWith(request(), kRecording);
  ASSERT_TRUE(started.has_value());
  EXPECT_TRUE(started->processHandle);
  EXPECT_TRUE(started->threadHandle);
  EXPECT_EQ(created.count, 1);
  EXPECT_EQ(created.applicationName, u"C:\\apps\\Q.exe");
  EXPECT_EQ(created.commandLine, u"\"C:\\apps\\Q.exe\" /s \"a b\"");
  EXPECT_TRUE(created.hasCurrentDirectory);
  EXPECT_EQ(created.currentDirectory, u"C:\\apps");
  EXPECT_TRUE(created.inheritHandles);
  EXPECT_EQ(created.flags, DWORD(CREATE_UNICODE_ENVIRONMENT));
  EXPECT_TRUE(created.environmentNull);
  EXPECT_TRUE(created.attributesNull);
  EXPECT_TRUE(created.lockHeld);
  EXPECT_FALSE(lockIsHeld());
}

TEST_F(StartProcessThroughSeamTest, NoWorkingDirectoryPassesNull) {
  setStdHandles(nullptr, nullptr, nullptr);
  ProcessSpec s = request();
  s.workingDirectory.reset();
  ASSERT_TRUE(startProcessWith(s, kRecording).has_value());
  EXPECT_FALSE(created.hasCurrentDirectory);
}

// The start-up information for each combination of standard handles the caller has.
TEST_F(StartProcessThroughSeamTest, StartupInfoFollowsTheCallersStdHandles) {
  const struct {
    const char* name;
    std::array<HANDLE, 3> own;
  } cases[] = {
      {"none", {nullptr, nullptr, nullptr}},
      {"invalid values count as none", {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE}},
      {"output alone redirected to a file", {nullptr, file_, nullptr}},
      {"error alone", {INVALID_HANDLE_VALUE, nullptr, file_}},
      {"all three", {file_, file_, file_}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    created = {};
    duplicates = {};
    setStdHandles(c.own[0], c.own[1], c.own[2]);
    ASSERT_TRUE(startProcessWith(request(), kRecording).has_value());
    const STARTUPINFOW& s = created.startup;
    EXPECT_EQ(s.cb, 104u);
    const HANDLE passed[3] = {s.hStdInput, s.hStdOutput, s.hStdError};
    bool any = false;
    for (std::size_t i = 0; i < 3; ++i) {
      const bool has = c.own[i] == file_;
      any = any || has;
      EXPECT_EQ(passed[i] != nullptr, has) << i;
      EXPECT_NE(passed[i], file_) << i;  // a duplicate, never the caller's own handle
      EXPECT_EQ(created.inheritable[i], has) << i;
    }
    EXPECT_EQ(s.dwFlags, any ? DWORD(STARTF_USESTDHANDLES) : 0u);
    EXPECT_EQ(s.lpDesktop, nullptr);
    EXPECT_EQ(s.wShowWindow, 0);
    for (HANDLE duplicate : duplicates.made) EXPECT_FALSE(isOpen(duplicate));
  }
}

// The duplicate handed over refers to the caller's file: what is written through it lands in that file.
TEST_F(StartProcessThroughSeamTest, OutputDuplicateWritesToTheCallersFile) {
  setStdHandles(nullptr, file_, nullptr);
  static HANDLE passedOutput;
  passedOutput = nullptr;
  ProcessCreationCalls calls = kRecording;
  calls.createProcess = [](LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                           LPCWSTR, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION) -> BOOL {
    DWORD written = 0;
    passedOutput = startup->hStdOutput;
    WriteFile(startup->hStdOutput, "through duplicate", 17, &written, nullptr);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  };
  auto started = startProcessWith(request(), calls);
  ASSERT_FALSE(started.has_value());
  EXPECT_EQ(started.error(), Error::system(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(isOpen(passedOutput));
  EXPECT_EQ(test::fileBytes(test::workFolder() + u"\\seam-output.txt"), "through duplicate");
}

TEST_F(StartProcessThroughSeamTest, CreateProcessFailureClosesTheDuplicatesAndFreesTheLock) {
  setStdHandles(file_, file_, file_);
  created.result = FALSE;
  created.error = ERROR_DIRECTORY;
  auto started = startProcessWith(request(), kRecording);
  ASSERT_FALSE(started.has_value());
  EXPECT_EQ(started.error(), Error::system(ERROR_DIRECTORY));
  ASSERT_EQ(duplicates.made.size(), 3u);
  for (HANDLE duplicate : duplicates.made) EXPECT_FALSE(isOpen(duplicate));
  EXPECT_FALSE(lockIsHeld());
}

TEST_F(StartProcessThroughSeamTest, DuplicateFailureClosesEarlierDuplicatesAndCreatesNothing) {
  for (int failAt = 1; failAt <= 3; ++failAt) {
    SCOPED_TRACE(failAt);
    created = {};
    duplicates = {};
    duplicates.failAt = failAt;
    setStdHandles(file_, file_, file_);
    auto started = startProcessWith(request(), kRecording);
    ASSERT_FALSE(started.has_value());
    EXPECT_EQ(started.error(), Error::system(ERROR_NOT_ENOUGH_QUOTA));
    EXPECT_EQ(created.count, 0);
    EXPECT_EQ(duplicates.made.size(), std::size_t(failAt - 1));
    for (HANDLE duplicate : duplicates.made) EXPECT_FALSE(isOpen(duplicate));
    EXPECT_FALSE(lockIsHeld());
  }
}

// While one thread is inside process creation, a second thread that starts a process waits for it: the second
// start's first step under the lock (duplicating a standard handle) comes only after the first creation has
// returned. The first creation gives the second thread a second to get in; a lock that let it in would show it.
struct LockOrder {
  HANDLE firstInside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE secondIn = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SRWLOCK guard = SRWLOCK_INIT;
  std::vector<std::string> steps;
  void note(const char* step) {
    AcquireSRWLockExclusive(&guard);
    steps.push_back(step);
    ReleaseSRWLockExclusive(&guard);
  }
};
LockOrder* lockOrder;

BOOL WINAPI firstCreateProcess(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES process,
                               LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                               LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
  lockOrder->note("first creates");
  SetEvent(lockOrder->firstInside);
  WaitForSingleObject(lockOrder->secondIn, 1000);
  lockOrder->note("first returns");
  return recordingCreateProcess(applicationName, commandLine, process, thread, inherit, flags, environment, directory,
                                startup, info);
}

BOOL WINAPI secondDuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                                  DWORD access, BOOL inherit, DWORD options) {
  lockOrder->note("second duplicates");
  SetEvent(lockOrder->secondIn);
  return DuplicateHandle(sourceProcess, source, targetProcess, target, access, inherit, options);
}

BOOL WINAPI secondCreateProcess(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                                LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION info) {
  lockOrder->note("second creates");
  info->hProcess = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  info->hThread = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return TRUE;
}

TEST_F(StartProcessThroughSeamTest, SecondThreadWaitsWhileOneCreatesAProcess) {
  setStdHandles(nullptr, file_, nullptr);
  LockOrder order;
  lockOrder = &order;
  HANDLE second = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        WaitForSingleObject(lockOrder->firstInside, INFINITE);
        const ProcessSpec request{u"C:\\apps\\Q.exe", {}, std::nullopt};
        return startProcessWith(request, {&secondDuplicateHandle, &secondCreateProcess}) ? 0 : 1;
      },
      nullptr, 0, nullptr);
  ASSERT_NE(second, nullptr);
  auto started = startProcessWith(request(), {&DuplicateHandle, &firstCreateProcess});
  ASSERT_EQ(WaitForSingleObject(second, 30000), WAIT_OBJECT_0);
  DWORD secondResult = 1;
  GetExitCodeThread(second, &secondResult);
  CloseHandle(second);
  CloseHandle(order.firstInside);
  CloseHandle(order.secondIn);
  EXPECT_TRUE(started.has_value());
  EXPECT_EQ(secondResult, 0u);
  EXPECT_EQ(order.steps,
            (std::vector<std::string>{"first creates", "first returns", "second duplicates", "second creates"}));
}

// A standard handle that names no object fails to duplicate with ERROR_INVALID_HANDLE: it is passed on as missing
// and the start goes on. Any other duplication error still ends the start. (Wine hands a child no such handle, so
// the failure comes through the seam.)
TEST_F(StartProcessThroughSeamTest, InvalidStdHandleCountsAsMissingThroughSeam) {
  const struct {
    const char* name;
    unsigned failMask;  // bit 1 input, 2 output, 3 error
    DWORD error;
    bool started;
    std::array<bool, 3> passed;
  } cases[] = {
      {"output invalid", 1u << 2, ERROR_INVALID_HANDLE, true, {true, false, true}},
      {"input and error invalid", (1u << 1) | (1u << 3), ERROR_INVALID_HANDLE, true, {false, true, false}},
      {"all three invalid", (1u << 1) | (1u << 2) | (1u << 3), ERROR_INVALID_HANDLE, true, {false, false, false}},
      {"output denied", 1u << 2, ERROR_ACCESS_DENIED, false, {}},
      {"output not supported", 1u << 2, ERROR_NOT_SUPPORTED, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    created = {};
    duplicates = {};
    duplicates.failMask = c.failMask;
    duplicates.failError = c.error;
    setStdHandles(file_, file_, file_);
    auto started = startProcessWith(request(), kRecording);
    ASSERT_EQ(started.has_value(), c.started);
    EXPECT_FALSE(lockIsHeld());
    for (HANDLE duplicate : duplicates.made) EXPECT_FALSE(isOpen(duplicate));
    if (!c.started) {
      EXPECT_EQ(started.error(), Error::system(c.error));
      EXPECT_EQ(created.count, 0);
      continue;
    }
    const STARTUPINFOW& s = created.startup;
    const HANDLE passed[3] = {s.hStdInput, s.hStdOutput, s.hStdError};
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(passed[i] != nullptr, c.passed[i]) << i;
      EXPECT_EQ(created.inheritable[i], c.passed[i]) << i;
    }
    const bool any = c.passed[0] || c.passed[1] || c.passed[2];
    EXPECT_EQ(s.dwFlags, any ? DWORD(STARTF_USESTDHANDLES) : 0u);
  }
}

// Unusable input fails before any handle is duplicated or any process created, with the first problem found in
// the order: program, batch test, arguments, working directory.
TEST_F(StartProcessThroughSeamTest, InputFailuresTakeNothing) {
  setStdHandles(file_, file_, file_);
  const std::u16string nul(1, u'\0');
  const struct {
    const char* name;
    ProcessSpec request;
    Error error;
  } cases[] = {
      {"empty program", {u"", {nul}, nul}, Error::of(ErrorKind::NoFileName)},
      {"program ends in separator", {u"C:\\apps\\", {nul}, nul}, Error::of(ErrorKind::NoFileName)},
      {"NUL in program", {u"C:\\a" + nul + u"b.exe", {nul}, nul}, Error::of(ErrorKind::NulInPath)},
      {"batch file", {u"C:\\apps\\run.cmd", {nul}, nul}, Error::system(ERROR_BAD_EXE_FORMAT)},
      {"NUL in an argument", {u"C:\\apps\\Q.exe", {u"ok", u"a" + nul}, nul}, Error::of(ErrorKind::NulInData)},
      {"NUL in the working directory", {u"C:\\apps\\Q.exe", {u"ok"}, u"C:\\a" + nul}, Error::of(ErrorKind::NulInData)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    created = {};
    duplicates = {};
    auto started = startProcessWith(c.request, kRecording);
    ASSERT_FALSE(started.has_value());
    EXPECT_EQ(started.error(), c.error);
    EXPECT_EQ(duplicates.count, 0);
    EXPECT_EQ(created.count, 0);
  }
}

}  // namespace
}  // namespace qmt
