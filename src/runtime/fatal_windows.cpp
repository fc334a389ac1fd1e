// Abnormal ends of the setup process on Windows.
#include <windows.h>

#include <string>

#include "runtime/fatal.h"

namespace qmt {
namespace {

void writeStandardError(const char* text, DWORD length) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(err, text, length, &written, nullptr);
}

// Fail-fast: the processor's interrupt 0x29 with the code in ECX ends the process at once, without running any
// handler, with status STATUS_STACK_BUFFER_OVERRUN (0xC0000409). MinGW's headers do not declare __fastfail.
[[noreturn]] void fastFail(unsigned code) {
  __asm__ volatile("int $0x29" : : "c"(code) : "memory");
  __builtin_unreachable();
}

}  // namespace

void allocationFailed(std::size_t bytes) {
  // No allocation may happen here: the number is formatted into a stack buffer.
  char digits[24];
  char* first = digits + sizeof digits;
  do {
    *--first = static_cast<char>('0' + bytes % 10);
    bytes /= 10;
  } while (bytes != 0);
  static constexpr char kLead[] = "memory allocation of ";
  static constexpr char kTail[] = " bytes failed\n";
  writeStandardError(kLead, sizeof kLead - 1);
  writeStandardError(first, static_cast<DWORD>(digits + sizeof digits - first));
  writeStandardError(kTail, sizeof kTail - 1);
  fastFail(FAST_FAIL_FATAL_APP_EXIT);
}

void internalFault(std::string_view what) {
  static constexpr char kLead[] = "internal fault: ";
  writeStandardError(kLead, sizeof kLead - 1);
  writeStandardError(what.data(), static_cast<DWORD>(what.size()));
  writeStandardError("\n", 1);
  ExitProcess(101);
}

}  // namespace qmt
