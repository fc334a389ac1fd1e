// Placement speed against its limits, on a file of about 1.8 MB:
//   - placing a file when an identical one is already there (read + compare) against a plain read of the file
//     into memory;
//   - placing a file fresh (write .neu, presence query, rename) against a plain write of the same bytes.
// Prints the median time of each and the ratios; the goal is at most 1.2 for both.
//   placement_bench [DATA_FILE [WORK_FOLDER]]   (Windows paths; defaults: a Wine system DLL, the current folder)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "placement/file_access.h"
#include "placement/place_file.h"
#include "runtime/handle.h"
#include "runtime/wide.h"

namespace {

using qmt::UniqueHandle;
using Bytes = std::vector<std::uint8_t>;

constexpr int kRuns = 41;
// A real PE file of about 1.8 MB that every Wine installation here has.
constexpr const char16_t* kDefaultData = u"Z:\\usr\\lib\\x86_64-linux-gnu\\wine\\x86_64-windows\\cryptui.dll";

std::u16string widen(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

double medianMilliseconds(const std::function<void()>& prepare, const std::function<void()>& measured) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> times;
  for (int run = 0; run < kRuns + 1; ++run) {
    prepare();
    QueryPerformanceCounter(&start);
    measured();
    QueryPerformanceCounter(&end);
    if (run > 0) times.push_back(1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The limits: what any program has to do at least, with plain Win32 calls.
Bytes plainRead(const std::u16string& path) {
  UniqueHandle file(CreateFileW(qmt::wide(path), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size{};
  GetFileSizeEx(file.get(), &size);
  Bytes bytes(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  return bytes;
}

void plainWrite(const std::u16string& path, const Bytes& bytes) {
  UniqueHandle file(CreateFileW(qmt::wide(path), GENERIC_WRITE, 7, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void fail(const char* what) {
  std::printf("placement benchmark: %s\n", what);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  std::u16string data = argc > 1 ? widen(argv[1]) : kDefaultData;
  std::u16string folder;
  if (argc > 2) {
    folder = widen(argv[2]);
  } else {
    wchar_t buffer[4096];
    folder = std::u16string(qmt::fromWide(buffer, GetCurrentDirectoryW(4096, buffer)));
  }
  folder += u"\\placement-bench";
  CreateDirectoryW(qmt::wide(folder), nullptr);
  const std::u16string target = folder + u"\\Quillmart.exe";
  const std::u16string plain = folder + u"\\plain.bin";

  const Bytes content = plainRead(data);
  if (content.empty()) fail("cannot read the data file");
  plainWrite(target, content);

  const auto nothing = [] {};
  double identical = medianMilliseconds(nothing, [&] {
    if (!qmt::placeFile(target, content)) fail("placing over an identical file failed");
  });
  double read = medianMilliseconds(nothing, [&] {
    if (plainRead(target).size() != content.size()) fail("plain read failed");
  });
  double fresh = medianMilliseconds([&] { DeleteFileW(qmt::wide(target)); }, [&] {
    if (!qmt::placeFile(target, content)) fail("placing a fresh file failed");
  });
  double write = medianMilliseconds([&] { DeleteFileW(qmt::wide(plain)); }, [&] { plainWrite(plain, content); });

  std::printf("file: %zu bytes, median of %d runs\n", content.size(), kRuns);
  std::printf("identical file present: placeFile %.3f ms, plain read %.3f ms, ratio %.2f (goal <= 1.2)\n", identical,
              read, identical / read);
  std::printf("fresh placement:        placeFile %.3f ms, plain write %.3f ms, ratio %.2f (goal <= 1.2)\n", fresh,
              write, fresh / write);

  DeleteFileW(qmt::wide(target));
  DeleteFileW(qmt::wide(plain));
  RemoveDirectoryW(qmt::wide(folder));
  return 0;
}
