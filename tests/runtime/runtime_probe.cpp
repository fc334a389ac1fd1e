// A program that starts as the setup does (its entry point, runtime support and link options; see
// tests/runtime/CMakeLists.txt) and then ends in the way its first argument names, so that runtime_support_test can
// watch the abnormal ends of a real process from the outside:
//   out-of-memory      operator new of 2^60 bytes
//   reserved-out-of-memory  a byte buffer in reserved space of 2^60 bytes (no such address space)
//   soft-allocations   allocations that may fail (nothrow new, ByteBuffer::tryWithCapacity) of 2^60 bytes; exit 0
//                      when both report the failure and the process goes on
//   stack-overflow     unbounded recursion on the main thread
//   terminate          std::terminate()
//   uncaught-throw     an exception that nothing catches
//   vector-at          std::vector::at out of range (a library error path)
//   string-too-long    std::string::reserve beyond max_size (a library error path)
//   static-constructor exit 0 when the constructor of a static object has run before the work, else 1
//   load-dll NAME      LoadLibraryW(NAME): prints "loaded PATH" and exits 0, or prints "not loaded CODE", exits 1
// Built with QMT_PROBE_UNPREPARED it is instead an ordinary program, started by the C runtime without the setup's
// preparation, that knows only load-dll: the control of the DLL planting cases.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <new>
#include <string>
#include <vector>

#ifndef QMT_PROBE_UNPREPARED
#include "launch/command_line.h"
#include "probe_recursion.h"
#include "runtime/byte_buffer.h"
#include "runtime/wide.h"
#include "setup/run_setup.h"
#endif

namespace {

int loadDll(const wchar_t* name) {
  HMODULE module = LoadLibraryW(name);
  if (module == nullptr) {
    std::printf("not loaded %lu", GetLastError());
    return 1;
  }
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  std::printf("loaded %ls", path);
  return 0;
}

}  // namespace

#ifdef QMT_PROBE_UNPREPARED

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const int result = __argc > 2 && std::wcscmp(__wargv[1], L"load-dll") == 0 ? loadDll(__wargv[2]) : 2;
  std::fflush(stdout);
  return result;
}

#else

namespace {

constexpr std::size_t kImpossible = std::size_t(1) << 60;

// Through a volatile, so the compiler cannot see the size and drop or fold the allocation.
std::size_t impossibleSize() {
  volatile std::size_t size = kImpossible;
  return size;
}

// Allocations are stored here, so that the compiler cannot drop them as unused.
char* volatile allocated = nullptr;

// Set by the constructor of a static object; a volatile, so that the compiler cannot set it at compile time instead.
volatile bool staticObjectConstructed = false;
struct MarksItsConstruction {
  MarksItsConstruction() { staticObjectConstructed = true; }
} marksItsConstruction;

int run(const std::u16string& mode, const std::u16string& argument) {
  if (mode == u"load-dll") return loadDll(qmt::wide(argument));
  if (mode == u"static-constructor") return staticObjectConstructed ? 0 : 1;
  if (mode == u"out-of-memory") {
    allocated = new char[impossibleSize()];
    return 3;  // not reached
  }
  if (mode == u"reserved-out-of-memory") {
    const qmt::ByteBuffer buffer = qmt::ByteBuffer::zeroedInReservedSpace(impossibleSize());
    return buffer.size() == 0 ? 3 : 4;  // not reached
  }
  if (mode == u"soft-allocations") {
    allocated = new (std::nothrow) char[impossibleSize()];
    const bool bufferFailed = !qmt::ByteBuffer::tryWithCapacity(impossibleSize()).has_value();
    return allocated == nullptr && bufferFailed ? 0 : 1;
  }
  if (mode == u"stack-overflow") return probe::recurse(0);
  if (mode == u"terminate") std::terminate();
  if (mode == u"uncaught-throw") throw 1;
  if (mode == u"vector-at") {
    std::vector<int> one(1);
    return one.at(impossibleSize());
  }
  if (mode == u"string-too-long") {
    std::string text;
    volatile std::size_t extra = 1;
    text.reserve(text.max_size() + extra);
    return 0;
  }
  return 2;
}

}  // namespace

// The work that the setup's entry point runs after the start-up: here the probe's, which ends the process with its
// own status (the entry would end it with 0).
void qmt::runSetup() {
  const std::vector<std::u16string> arguments = qmt::splitCommandLineText(qmt::fromWide(GetCommandLineW()).data());
  const int result = arguments.size() < 2 ? 2 : run(arguments[1], arguments.size() > 2 ? arguments[2] : u"");
  std::fflush(stdout);
  ExitProcess(static_cast<UINT>(result));
}

#endif
