// Runtime support of the setup process: start-up hardening, the stack-overflow report and exhausted memory (the
// library's error paths and std::terminate are in library_faults.cpp). Compiled into each program that must end
// like the setup does (the setup itself and the test programs that check these ends).
#include <windows.h>

#include <cstdlib>
#include <new>

#include "runtime/fatal.h"
#include "runtime/process_support.h"

namespace qmt {
namespace {

// Stack kept in reserve for the overflow handler to run on after the guard page has been hit.
constexpr ULONG kStackGuarantee = 0x5000;

void writeStandardError(const char* text, DWORD length) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(err, text, length, &written, nullptr);
}

// Runs on the stack kept in reserve by the guarantee. After the report the process ends at once with the overflow
// status, as an unhandled overflow would: handing the exception on would run the unhandled-exception machinery
// (error reporting, a debugger) on what little stack is left, and where that runs out as well the process
// vanishes with an unrelated status (under Wine: exit code 0).
LONG CALLBACK reportStackOverflow(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;
  static constexpr char kText[] = "the main thread has overflowed its stack\n";
  writeStandardError(kText, sizeof kText - 1);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(EXCEPTION_STACK_OVERFLOW));
  return EXCEPTION_CONTINUE_SEARCH;  // not reached
}

// GCC's C++ runtime raises a throw as a continuable Windows exception whose code carries its mark in the low bits.
// The setup's code throws and catches nothing, so any throw is an internal fault: handed straight back, the throw
// returns into the C++ runtime, which then calls std::terminate, and the process ends with the internal fault's
// status and report. (The C runtime's start-up code, which the setup leaves out, hands it back only once no frame
// has taken it, through an unhandled-exception filter; without either, an uncaught throw ends the process
// unreported.) A vectored handler, so that no further import is needed.
LONG CALLBACK returnCxxThrow(EXCEPTION_POINTERS* info) {
  constexpr DWORD kGccMarkMask = 0x20FFFFFF;
  constexpr DWORD kGccMark = 0x20474343;  // (1 << 29) | 'G' 'C' 'C'
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if ((record->ExceptionCode & kGccMarkMask) == kGccMark && (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0) {
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void prepareProcess() {
  // Only the system folder is searched for DLLs loaded from now on, by this program or on its behalf.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");
  ULONG guarantee = kStackGuarantee;
  SetThreadStackGuarantee(&guarantee);
  AddVectoredExceptionHandler(1, reportStackOverflow);
  AddVectoredExceptionHandler(0, returnCxxThrow);
}

}  // namespace qmt

// Every allocation of the C++ library goes through these: exhausted memory ends the process with the allocation
// message instead of throwing.
void* operator new(std::size_t size) {
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  qmt::allocationFailed(size);
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

