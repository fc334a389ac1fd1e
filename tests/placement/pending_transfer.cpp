// Runs one transfer whose native call stays pending even after the wait: the transfer must end the process with
// its fatal message instead of returning (exit code 1 means it returned).
#include <windows.h>

#include "placement/file_system_calls.h"

namespace {

NTSTATUS NTAPI alwaysPending(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, PLARGE_INTEGER,
                             PULONG) {
  return 0x103;  // STATUS_PENDING, and the status block is left pending too
}

}  // namespace

int main() {
  qmt::fileSystemCalls().ntReadFile = alwaysPending;
  HANDLE signalled = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  std::uint8_t buffer[8];
  (void)qmt::synchronousTransfer(qmt::TransferDirection::Read, signalled, buffer, sizeof buffer);
  return 1;
}
