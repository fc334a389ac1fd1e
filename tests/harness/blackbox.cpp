// Starting a program, watching for its message box, and collecting its exit status.
#include "blackbox.h"

#include "runtime/handle.h"
#include "under_wine.h"

#include <cstdio>

namespace qmt::test {
namespace {

constexpr DWORD kPollMs = 20;
constexpr DWORD kRepostMs = 1000;
constexpr int kMessageTextId = 0xFFFF;
constexpr int kWineStartAttempts = 3;

struct StartedProcess {
  UniqueProcessInformation info;
  DWORD error = 0;
};

// An inheritable copy of one of this process's standard handles, for a child started with
// STARTF_USESTDHANDLES; empty when this process has none.
UniqueHandle inheritableStdHandle(DWORD which) {
  HANDLE own = GetStdHandle(which);
  if (!UniqueHandle::isValid(own)) return {};
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return {};
  }
  return UniqueHandle(copy);
}

UniqueHandle createInheritableFile(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  return UniqueHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

StartedProcess start(const SetupRun& run) {
  std::wstring commandLine = run.commandLine.empty() ? quoteArgument(run.exe) : run.commandLine;
  std::vector<wchar_t> environment;
  DWORD flags = run.creationFlags;
  if (!run.env.empty()) {
    environment = environmentBlockWith(run.env);
    flags |= CREATE_UNICODE_ENVIRONMENT;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  UniqueHandle input, output, error;
  BOOL inherit = FALSE;
  if (run.stdoutFile) {
    output = createInheritableFile(*run.stdoutFile);
    if (!output) return {{}, GetLastError()};
    input = inheritableStdHandle(STD_INPUT_HANDLE);
    error = inheritableStdHandle(STD_ERROR_HANDLE);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = error.get();
    inherit = TRUE;
  }
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(run.exe.c_str(), commandLine.data(), nullptr, nullptr, inherit, flags,
                      environment.empty() ? nullptr : environment.data(),
                      run.workingDirectory.empty() ? nullptr : run.workingDirectory.c_str(), &startup, &info)) {
    return {{}, GetLastError()};
  }
  return {UniqueProcessInformation::adopt(info), 0};
}

struct BoxSearch {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK matchBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  wchar_t className[16] = {};
  wchar_t title[16] = {};
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (search->pid != 0 && owner != search->pid) return TRUE;
  if (GetClassNameW(window, className, 16) == 0 || lstrcmpW(className, L"#32770") != 0) return TRUE;
  if (GetWindowTextW(window, title, 16) == 0 || lstrcmpW(title, L"Quillmart") != 0) return TRUE;
  // A box is complete, its text included, once it is visible.
  if (!IsWindowVisible(window) || GetDlgItem(window, kMessageTextId) == nullptr) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

DWORD startRetryingWineStartup(std::wstring_view program, const std::function<DWORD()>& startOnce) {
  DWORD error = startOnce();
  // Nothing of the program ran, so starting it again observes the same behaviour.
  for (int attempt = 1; attempt < kWineStartAttempts && error == ERROR_INTERNAL_ERROR && underWine(); ++attempt) {
    std::fwprintf(stderr, L"blackbox: Wine ended %.*ls in its start-up (ERROR_INTERNAL_ERROR); starting it again\n",
                  static_cast<int>(program.size()), program.data());
    error = startOnce();
  }
  return error;
}

HWND findQuillmartBox(DWORD pid) {
  BoxSearch search{pid, nullptr};
  EnumWindows(matchBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring boxText(HWND box) {
  HWND text = GetDlgItem(box, kMessageTextId);
  int length = text ? GetWindowTextLengthW(text) : 0;
  std::wstring result(static_cast<std::size_t>(length) + 1, L'\0');
  UINT copied = GetDlgItemTextW(box, kMessageTextId, result.data(), length + 1);
  result.resize(copied);
  return result;
}

void pressOk(HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }

SetupOutcome runSetupExe(const SetupRun& run) {
  SetupOutcome outcome;
  StartedProcess process;
  startRetryingWineStartup(run.exe, [&] {
    process = start(run);
    return process.error;
  });
  if (process.error != 0) {
    outcome.startError = process.error;
    return outcome;
  }
  HANDLE handle = process.info.process.get();
  DWORD pid = GetProcessId(handle);
  ULONGLONG started = GetTickCount64();
  ULONGLONG lastPress = 0;
  while (WaitForSingleObject(handle, kPollMs) == WAIT_TIMEOUT) {
    ULONGLONG now = GetTickCount64();
    if (now - started >= run.timeoutMs) {
      outcome.timedOut = true;
      TerminateProcess(handle, ERROR_TIMEOUT);
      WaitForSingleObject(handle, INFINITE);
      break;
    }
    HWND box = findQuillmartBox(pid);
    if (box == nullptr) continue;
    if (!outcome.boxText) outcome.boxText = boxText(box);
    // A posted OK can be lost while the box is still starting its message loop: press again after a while.
    if (run.closeBox && (lastPress == 0 || now - lastPress >= kRepostMs)) {
      pressOk(box);
      lastPress = now;
    }
  }
  GetExitCodeProcess(handle, &outcome.exitCode);
  return outcome;
}

}  // namespace qmt::test
