// The floor of the whole-run benchmark: the least a setup of the same two files has to do, written plainly. For
// each file it inflates the embedded zlib stream into a buffer that starts at twice the stream's length and doubles
// (realloc) when full, writes the bytes to a sibling and renames that over the file's name; then it starts the
// application. It creates the two folders it needs and does nothing else: no identical-file check, no message box,
// no C++ library. Exit status 0 after success, 1 after any failure (the benchmark checks it).
#include <windows.h>
#include <zlib.h>

#include <cstdlib>
#include <cwchar>

// Both streams, embedded with .incbin by the generated qmt_bench_<payload>_floor_streams.cpp.
extern "C" const unsigned char qmtFloorStream1[], qmtFloorStream1End[], qmtFloorStream2[], qmtFloorStream2End[];

namespace {

// Paths of the benchmark's Wine prefix are short; kFolderUnits leaves room for the names joined to the folder.
constexpr DWORD kPathUnits = 1024;
constexpr DWORD kFolderUnits = kPathUnits - 64;

// out = a + b + c; the callers' parts fit.
void join(wchar_t* out, const wchar_t* a, const wchar_t* b, const wchar_t* c) {
  std::wcscpy(out, a);
  std::wcscat(out, b);
  std::wcscat(out, c);
}

struct Inflated {
  unsigned char* bytes;  // malloc'd; null after a failure
  size_t size;
};

// The whole stream in one buffer.
Inflated inflateStream(const unsigned char* begin, const unsigned char* end) {
  const size_t length = static_cast<size_t>(end - begin);
  size_t capacity = 2 * length;
  auto* out = static_cast<unsigned char*>(std::malloc(capacity));
  z_stream stream{};
  if (out == nullptr || inflateInit(&stream) != Z_OK) return {nullptr, 0};
  stream.next_in = const_cast<unsigned char*>(begin);
  stream.avail_in = static_cast<uInt>(length);
  size_t produced = 0;
  for (;;) {
    stream.next_out = out + produced;
    stream.avail_out = static_cast<uInt>(capacity - produced);
    const int result = inflate(&stream, Z_NO_FLUSH);
    produced = capacity - stream.avail_out;
    if (result == Z_STREAM_END) break;
    // Output space left over without the stream's end: the input ran out, the stream is cut short.
    auto* grown = (result == Z_OK || result == Z_BUF_ERROR) && stream.avail_out == 0
                      ? static_cast<unsigned char*>(std::realloc(out, capacity * 2))
                      : nullptr;
    if (grown == nullptr) {
      inflateEnd(&stream);
      std::free(out);
      return {nullptr, 0};
    }
    out = grown;
    capacity *= 2;
  }
  inflateEnd(&stream);
  return {out, produced};
}

bool writeFile(const wchar_t* path, const Inflated& data) {
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, data.bytes, static_cast<DWORD>(data.size), &written, nullptr);
  return CloseHandle(file) && ok && written == data.size;
}

bool place(const wchar_t* folder, const wchar_t* name, const unsigned char* begin, const unsigned char* end) {
  const Inflated data = inflateStream(begin, end);
  if (data.bytes == nullptr) return false;
  wchar_t target[kPathUnits], sibling[kPathUnits];
  join(target, folder, L"\\", name);
  join(sibling, target, L".neu", L"");
  const bool placed = writeFile(sibling, data) && MoveFileExW(sibling, target, MOVEFILE_REPLACE_EXISTING);
  std::free(data.bytes);
  return placed;
}

// %LOCALAPPDATA%\Programs\Quillmart, created with its parent; false when LOCALAPPDATA is not set.
bool makeTargetFolder(wchar_t* folder) {
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, kFolderUnits);
  if (length == 0 || length >= kFolderUnits) return false;
  std::wcscat(folder, L"\\Programs");
  CreateDirectoryW(folder, nullptr);
  std::wcscat(folder, L"\\Quillmart");
  CreateDirectoryW(folder, nullptr);
  return true;
}

bool startApplication(const wchar_t* folder) {
  wchar_t exe[kPathUnits], commandLine[kPathUnits];
  join(exe, folder, L"\\Quillmart.exe", L"");
  join(commandLine, L"\"", exe, L"\"");
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(exe, commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &process)) return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t folder[kPathUnits];
  if (!makeTargetFolder(folder)) return 1;
  if (!place(folder, L"WebView2Loader.dll", qmtFloorStream1, qmtFloorStream1End)) return 1;
  if (!place(folder, L"Quillmart.exe", qmtFloorStream2, qmtFloorStream2End)) return 1;
  return startApplication(folder) ? 0 : 1;
}
