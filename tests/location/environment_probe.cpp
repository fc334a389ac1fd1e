// Child program of the environment round-trip test: looks one variable up with the setup's own lookup and writes
// what it found to a file: "D" and the value's UTF-16 units (little-endian) when defined, "U" when not.
//   environment_probe NAME OUTPUT-FILE
#include <windows.h>

#include <string>

#include "location/system_environment.h"
#include "runtime/text.h"
#include "runtime/wide.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const std::u16string name(qmt::fromWide(argv[1]));
  const std::optional<std::u16string> value = qmt::lookupEnvironmentVariable(qmt::utf16ToUtf8Lossy(name));
  std::string report(value ? "D" : "U");
  if (value) report.append(reinterpret_cast<const char*>(value->data()), value->size() * sizeof(char16_t));
  HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == report.size() ? 0 : 4;
}
