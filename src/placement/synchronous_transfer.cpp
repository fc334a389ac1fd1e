#include "placement/synchronous_transfer.h"

#include <algorithm>

#include "placement/file_system_calls.h"

namespace qmt {
namespace {

constexpr NTSTATUS kStatusPending = 0x103;
constexpr NTSTATUS kStatusEndOfFile = static_cast<NTSTATUS>(0xC0000011);
constexpr DWORD kWsaeShutdown = 10058;

// The handles of this layer are all synchronous, so a transfer that is still pending after the wait means the
// handle is not what it claims to be; going on would let the system write into a buffer that is gone.
[[noreturn]] void abortNotSynchronous() {
  static constexpr char kText[] =
      "fatal runtime error: I/O error: operation failed to complete synchronously, aborting\n";
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (err != nullptr && err != INVALID_HANDLE_VALUE) WriteFile(err, kText, sizeof kText - 1, &written, nullptr);
  __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_FATAL_APP_EXIT) : "memory");
  __builtin_unreachable();
}

bool isEndOfData(DWORD code) { return code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == kWsaeShutdown; }

}  // namespace

Expected<std::size_t, Error> synchronousTransfer(TransferDirection direction, HANDLE file, std::uint8_t* buffer,
                                                 std::size_t length) {
  IO_STATUS_BLOCK io{};
  io.Status = kStatusPending;
  io.Information = 0;
  ULONG count = static_cast<ULONG>(std::min<std::size_t>(length, 0xFFFFFFFFu));
  bool reading = direction == TransferDirection::Read;
  auto& calls = fileSystemCalls();
  auto call = reading ? calls.ntReadFile : calls.ntWriteFile;
  NTSTATUS status = call(file, nullptr, nullptr, nullptr, &io, buffer, count, nullptr, nullptr);
  if (status == kStatusPending) {
    WaitForSingleObject(file, INFINITE);
    status = io.Status;
  }
  if (status == kStatusPending) abortNotSynchronous();
  if (reading && status == kStatusEndOfFile) return std::size_t{0};
  if (status >= 0) return static_cast<std::size_t>(io.Information);
  DWORD code = RtlNtStatusToDosError(status);
  if (reading && isEndOfData(code)) return std::size_t{0};
  return unexpected(Error::system(code));
}

}  // namespace qmt
