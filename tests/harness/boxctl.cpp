// Command-line use of the black-box runner, for scripts that run under Wine:
//   boxctl run [--set NAME=VALUE]... [--unset NAME]... [--cwd DIR] [--stdout FILE] [--keep-box] [--timeout MS]
//              -- EXE [ARG...]
//       runs EXE with the arguments and environment changes; prints "exit <status>", "box <text>" when it showed a
//       "Quillmart" box (closed with OK unless --keep-box) and "timed out" when it had to be ended; exits with the
//       program's status (1 when it could not be started or timed out).
//   boxctl wait-text [--timeout MS]   waits for a visible "Quillmart" box of any program and prints its text.
//   boxctl close [--timeout MS]       waits for that box and presses OK on it.
// Output is UTF-8. wait-text and close exit 1 when no box appears in time (default 30000 ms).
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "blackbox.h"

namespace {

using namespace qmt::test;

void print(const std::wstring& line) {
  std::string bytes = utf8Of(line + L"\n");
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int usage() {
  print(L"usage: boxctl run [options] -- EXE [ARG...] | wait-text [--timeout MS] | close [--timeout MS]");
  return 2;
}

HWND waitForBox(DWORD timeoutMs) {
  ULONGLONG started = GetTickCount64();
  for (;;) {
    if (HWND box = findQuillmartBox()) return box;
    if (GetTickCount64() - started >= timeoutMs) return nullptr;
    Sleep(20);
  }
}

int run(const std::vector<std::wstring>& args) {
  SetupRun setup;
  std::size_t i = 0;
  for (; i < args.size() && args[i] != L"--"; ++i) {
    const std::wstring& option = args[i];
    bool hasValue = i + 1 < args.size();
    if (option == L"--keep-box") {
      setup.closeBox = false;
    } else if (!hasValue) {
      return usage();
    } else if (option == L"--set") {
      const std::wstring& pair = args[++i];
      std::size_t equals = pair.find(L'=', 1);
      if (equals == std::wstring::npos) return usage();
      setup.env.push_back(setVariable(pair.substr(0, equals), pair.substr(equals + 1)));
    } else if (option == L"--unset") {
      setup.env.push_back(unsetVariable(args[++i]));
    } else if (option == L"--cwd") {
      setup.workingDirectory = args[++i];
    } else if (option == L"--stdout") {
      setup.stdoutFile = args[++i];
    } else if (option == L"--timeout") {
      setup.timeoutMs = static_cast<DWORD>(std::wcstoul(args[++i].c_str(), nullptr, 10));
    } else {
      return usage();
    }
  }
  if (i + 1 >= args.size()) return usage();
  std::vector<std::wstring> program(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  setup.exe = program.front();
  setup.commandLine = commandLineOf(program);
  SetupOutcome outcome = runSetupExe(setup);
  if (outcome.startError != 0) {
    print(L"not started: error " + std::to_wstring(outcome.startError));
    return 1;
  }
  print(L"exit " + std::to_wstring(outcome.exitCode));
  if (outcome.boxText) print(L"box " + *outcome.boxText);
  if (outcome.timedOut) print(L"timed out");
  return outcome.timedOut ? 1 : static_cast<int>(outcome.exitCode);
}

int boxCommand(const std::wstring& command, const std::vector<std::wstring>& args) {
  DWORD timeoutMs = 30000;
  if (args.size() == 2 && args[0] == L"--timeout") {
    timeoutMs = static_cast<DWORD>(std::wcstoul(args[1].c_str(), nullptr, 10));
  } else if (!args.empty()) {
    return usage();
  }
  HWND box = waitForBox(timeoutMs);
  if (box == nullptr) {
    print(L"no Quillmart box");
    return 1;
  }
  if (command == L"wait-text") {
    print(boxText(box));
  } else {
    pressOk(box);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return usage();
  std::wstring command = argv[1];
  std::vector<std::wstring> args(argv + 2, argv + argc);
  if (command == L"run") return run(args);
  if (command == L"wait-text" || command == L"close") return boxCommand(command, args);
  return usage();
}
