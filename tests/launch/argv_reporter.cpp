// Test program: reports how it was started. Writes to the file named by the environment variable
// QMT_REPORT_FILE, as UTF-16 records (each a 32-bit unit count followed by the units):
//   its command line (GetCommandLineW); the count and elements of the C runtime's argv; the count and elements of
//   CommandLineToArgvW's result; its current directory; three units '0'/'1' telling whether it has a standard
//   input, output and error handle.
// When it has a standard output, it also writes "reporter\n" there. Exit code 0 when the report was written.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

void putRecord(std::vector<wchar_t>& out, const wchar_t* units, std::size_t count) {
  const auto n = static_cast<std::uint32_t>(count);
  out.push_back(static_cast<wchar_t>(n & 0xFFFF));
  out.push_back(static_cast<wchar_t>(n >> 16));
  out.insert(out.end(), units, units + count);
}

void putRecord(std::vector<wchar_t>& out, const wchar_t* text) { putRecord(out, text, wcslen(text)); }

void putList(std::vector<wchar_t>& out, int count, wchar_t** elements) {
  const std::wstring countText = std::to_wstring(count);
  putRecord(out, countText.c_str());
  for (int i = 0; i < count; ++i) putRecord(out, elements[i]);
}

bool hasStdHandle(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<wchar_t> report;
  putRecord(report, GetCommandLineW());
  putList(report, argc, argv);
  int shellCount = 0;
  wchar_t** shellArgv = CommandLineToArgvW(GetCommandLineW(), &shellCount);
  putList(report, shellArgv ? shellCount : -1, shellArgv);
  LocalFree(shellArgv);
  wchar_t directory[4096];
  const DWORD directoryLength = GetCurrentDirectoryW(4096, directory);
  putRecord(report, directory, directoryLength < 4096 ? directoryLength : 0);
  const wchar_t handles[] = {hasStdHandle(STD_INPUT_HANDLE) ? L'1' : L'0',
                             hasStdHandle(STD_OUTPUT_HANDLE) ? L'1' : L'0',
                             hasStdHandle(STD_ERROR_HANDLE) ? L'1' : L'0'};
  putRecord(report, handles, 3);

  if (hasStdHandle(STD_OUTPUT_HANDLE)) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "reporter\n", 9, &written, nullptr);
  }

  wchar_t reportPath[4096];
  const DWORD pathLength = GetEnvironmentVariableW(L"QMT_REPORT_FILE", reportPath, 4096);
  if (pathLength == 0 || pathLength >= 4096) return 2;
  const HANDLE file = CreateFileW(reportPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  const DWORD bytes = static_cast<DWORD>(report.size() * sizeof(wchar_t));
  const BOOL ok = WriteFile(file, report.data(), bytes, &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes ? 0 : 4;
}
