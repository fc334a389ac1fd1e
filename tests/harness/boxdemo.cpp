// A stand-in GUI program for testing the black-box runner:
//   boxdemo EXIT [--box TEXT] [--env NAME]... [--sleep MS]
// Writes to its standard output, as UTF-16LE lines, "cwd=<current folder>", one "arg=<argument>" per argument
// after its own name, and for each --env either "env:NAME=<value>" or "env:NAME unset"; then shows a message box
// titled "Quillmart" with TEXT (error icon, OK), sleeps MS milliseconds, and exits with status EXIT (decimal or
// 0x hex).
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

void writeLine(const std::wstring& line) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  std::wstring text = line + L"\n";
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
}

std::wstring currentFolder() {
  DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::wstring folder(size, L'\0');
  folder.resize(GetCurrentDirectoryW(size, folder.data()));
  return folder;
}

void reportVariable(const wchar_t* name) {
  SetLastError(ERROR_SUCCESS);
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
    writeLine(std::wstring(L"env:") + name + L" unset");
    return;
  }
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  writeLine(std::wstring(L"env:") + name + L"=" + value);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr || count < 2) return 2;
  writeLine(L"cwd=" + currentFolder());
  for (int i = 1; i < count; ++i) writeLine(std::wstring(L"arg=") + argv[i]);
  const wchar_t* box = nullptr;
  DWORD sleepMs = 0;
  for (int i = 2; i + 1 < count; i += 2) {
    if (std::wcscmp(argv[i], L"--box") == 0) box = argv[i + 1];
    if (std::wcscmp(argv[i], L"--env") == 0) reportVariable(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--sleep") == 0) sleepMs = std::wcstoul(argv[i + 1], nullptr, 10);
  }
  if (box != nullptr) MessageBoxW(nullptr, box, L"Quillmart", MB_OK | MB_ICONERROR);
  Sleep(sleepMs);
  auto code = static_cast<UINT>(std::wcstoul(argv[1], nullptr, 0));
  LocalFree(argv);
  ExitProcess(code);
}
