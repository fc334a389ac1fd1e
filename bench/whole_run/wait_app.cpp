// Waits until no process of this Wine session runs the named program: the whole-run benchmark calls it between two
// samples, so that the application a setup started has ended before the next setup runs.
//   qmt_bench_wait_app NAME TIMEOUT_MS      exit 0: none runs (any more); 1: one still runs after TIMEOUT_MS; 2: usage
#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>

namespace {

// The id of one running process whose executable is `name`, or 0.
DWORD findProcess(const wchar_t* name) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  DWORD found = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, name) == 0) found = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const ULONGLONG deadline = GetTickCount64() + std::wcstoul(argv[2], nullptr, 10);
  while (const DWORD id = findProcess(argv[1])) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return 1;
    // A process that ended between the snapshot and here cannot be opened; the next snapshot no longer lists it.
    if (const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id)) {
      WaitForSingleObject(process, static_cast<DWORD>(deadline - now));
      CloseHandle(process);
    }
  }
  return 0;
}
