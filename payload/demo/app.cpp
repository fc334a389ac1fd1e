// Quillmart demo application: the stand-in for the real Quillmart.exe in the demo payload. It imports the loader's
// function at load time (so Windows refuses to start it without WebView2Loader.dll beside it) and reports how it
// was started:
//  - QMT_DEMO_REPORT=<file>: a report of UTF-16LE "key=value" records, each ended by one NUL unit, written to a
//    temporary name and renamed, so a reader never sees half a report (parser: tests/harness/demo_report.h);
//    besides the keys listed there, "edition" tells the demo's two builds apart (1, or 2 for the update tests);
//  - QMT_DEMO_LINGER_MS=<n>: stays alive that long before exiting (a running application);
//  - always one summary line on its standard output when it has one;
//  - started with none of these (double-clicked): a small window with the same information, closing by itself.

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <optional>
#include <string>

extern "C" HRESULT WINAPI CreateCoreWebView2EnvironmentWithOptions(PCWSTR browserExecutableFolder,
                                                                  PCWSTR userDataFolder, void* environmentOptions,
                                                                  void* environmentCreatedHandler);

namespace {

constexpr UINT kWindowSeconds = 6;

// The build makes a second edition of the demo (a different Quillmart.exe) for tests of updates.
#ifndef QMT_DEMO_EDITION
#define QMT_DEMO_EDITION 1
#endif

std::optional<std::wstring> environmentValue(const wchar_t* name) {
  std::wstring value(256, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::wstring();
    }
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);
  }
}

std::wstring currentDirectory() {
  std::wstring dir(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), dir.data());
    if (n < dir.size()) {
      dir.resize(n);
      return dir;
    }
    dir.resize(n);
  }
}

const wchar_t* handleKind(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return L"none";
  switch (GetFileType(handle)) {
    case FILE_TYPE_DISK: return L"disk";
    case FILE_TYPE_PIPE: return L"pipe";
    case FILE_TYPE_CHAR: return L"char";
    default: return L"unknown";
  }
}

class Report {
 public:
  void add(const std::wstring& key, const std::wstring& value) {
    records_ += key;
    records_ += L'=';
    records_ += value;
    records_ += L'\0';
    text_ += key + L": " + value + L"\r\n";
  }
  const std::wstring& records() const { return records_; }
  const std::wstring& text() const { return text_; }

 private:
  std::wstring records_;  // the file's content
  std::wstring text_;     // the same for a person
};

Report collect(int argc, wchar_t** argv, HRESULT loader) {
  Report report;
  report.add(L"commandLine", GetCommandLineW());
  report.add(L"cwd", currentDirectory());
  report.add(L"crtArgc", std::to_wstring(argc));
  for (int i = 0; i < argc; ++i) report.add(L"crtArg" + std::to_wstring(i), argv[i]);
  int shellArgc = 0;
  wchar_t** shellArgv = CommandLineToArgvW(GetCommandLineW(), &shellArgc);
  if (shellArgv != nullptr) {
    report.add(L"shellArgc", std::to_wstring(shellArgc));
    for (int i = 0; i < shellArgc; ++i) report.add(L"shellArg" + std::to_wstring(i), shellArgv[i]);
    LocalFree(shellArgv);
  }
  if (auto data = environmentValue(L"QMT_DATA")) report.add(L"env.QMT_DATA", *data);
  report.add(L"stdin", handleKind(STD_INPUT_HANDLE));
  report.add(L"stdout", handleKind(STD_OUTPUT_HANDLE));
  report.add(L"stderr", handleKind(STD_ERROR_HANDLE));
  wchar_t hex[16];
  std::swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(loader));
  report.add(L"loader", hex);
  report.add(L"edition", std::to_wstring(QMT_DEMO_EDITION));
  return report;
}

// Written beside the final name and renamed onto it, so the report appears complete or not at all.
void writeReport(const std::wstring& path, const std::wstring& records) {
  const std::wstring temporary = path + L".tmp";
  const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  const DWORD bytes = static_cast<DWORD>(records.size() * sizeof(wchar_t));
  const BOOL ok = WriteFile(file, records.data(), bytes, &written, nullptr);
  CloseHandle(file);
  if (ok && written == bytes) MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
  else DeleteFileW(temporary.c_str());
}

std::string utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

void writeSummaryLine(int argc, HRESULT loader) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  wchar_t hex[16];
  std::swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(loader));
  const std::string line = utf8(L"Quillmart demo " + std::to_wstring(QMT_DEMO_EDITION) + L": started with " + std::to_wstring(argc - 1) +
                                L" argument(s) in " + currentDirectory() + L", loader " + hex + L"\n");
  DWORD written = 0;
  WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(window, &paint);
      RECT area;
      GetClientRect(window, &area);
      InflateRect(&area, -12, -12);
      const auto* text = reinterpret_cast<const std::wstring*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (text != nullptr) DrawTextW(dc, text->c_str(), -1, &area, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_TIMER: DestroyWindow(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

// A small window with the report; it closes by itself after a few seconds.
void showWindow(const std::wstring& text) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProcedure;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = L"QuillmartDemoWindow";
  if (RegisterClassW(&windowClass) == 0) return;
  const std::wstring shown = text + L"\r\nThis window closes by itself.";
  const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Quillmart Demo", WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, CW_USEDEFAULT, 640, 420, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&shown));
  SetTimer(window, 1, kWindowSeconds * 1000, nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const HRESULT loader = CreateCoreWebView2EnvironmentWithOptions(nullptr, nullptr, nullptr, nullptr);
  const Report report = collect(argc, argv, loader);
  const auto reportPath = environmentValue(L"QMT_DEMO_REPORT");
  const auto linger = environmentValue(L"QMT_DEMO_LINGER_MS");
  if (reportPath && !reportPath->empty()) writeReport(*reportPath, report.records());
  writeSummaryLine(argc, loader);
  if (linger) Sleep(static_cast<DWORD>(std::wcstoul(linger->c_str(), nullptr, 10)));
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const bool hasOutput = out != nullptr && out != INVALID_HANDLE_VALUE;
  if (!reportPath && !linger && !hasOutput) showWindow(report.text());
  return 0;
}
