// A program built with the setup's runtime support that ends in the way its first argument names, so that
// runtime_support_test can watch the abnormal ends of a real process from the outside:
//   out-of-memory      operator new of 2^60 bytes
//   reserved-out-of-memory  a byte buffer in reserved space of 2^60 bytes (no such address space)
//   soft-allocations   allocations that may fail (nothrow new, ByteBuffer::tryWithCapacity) of 2^60 bytes; exit 0
//                      when both report the failure and the process goes on
//   stack-overflow     unbounded recursion on the main thread
//   terminate          std::terminate()
//   uncaught-throw     an exception that nothing catches
//   vector-at          std::vector::at out of range (a library error path)
//   string-too-long    std::string::reserve beyond max_size (a library error path)
//   load-dll NAME      LoadLibraryW(NAME): prints "loaded PATH" and exits 0, or prints "not loaded CODE", exits 1
// Every mode but the "-raw" form of load-dll first calls prepareProcess, as the setup does.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "runtime/byte_buffer.h"
#include "runtime/process_support.h"
#include "probe_recursion.h"

namespace {

constexpr std::size_t kImpossible = std::size_t(1) << 60;

// Through a volatile, so the compiler cannot see the size and drop or fold the allocation.
std::size_t impossibleSize() {
  volatile std::size_t size = kImpossible;
  return size;
}

// Allocations are stored here, so that the compiler cannot drop them as unused.
char* volatile allocated = nullptr;

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

int run(const wchar_t* mode, const wchar_t* argument) {
  const std::wstring m = mode;
  if (m == L"load-dll-raw") return loadDll(argument);
  qmt::prepareProcess();
  if (m == L"load-dll") return loadDll(argument);
  if (m == L"out-of-memory") {
    allocated = new char[impossibleSize()];
    return 3;  // not reached
  }
  if (m == L"reserved-out-of-memory") {
    const qmt::ByteBuffer buffer = qmt::ByteBuffer::zeroedInReservedSpace(impossibleSize());
    return buffer.size() == 0 ? 3 : 4;  // not reached
  }
  if (m == L"soft-allocations") {
    allocated = new (std::nothrow) char[impossibleSize()];
    const bool bufferFailed = !qmt::ByteBuffer::tryWithCapacity(impossibleSize()).has_value();
    return allocated == nullptr && bufferFailed ? 0 : 1;
  }
  if (m == L"stack-overflow") return probe::recurse(0);
  if (m == L"terminate") std::terminate();
  if (m == L"uncaught-throw") throw 1;
  if (m == L"vector-at") {
    std::vector<int> one(1);
    return one.at(impossibleSize());
  }
  if (m == L"string-too-long") {
    std::string text;
    volatile std::size_t extra = 1;
    text.reserve(text.max_size() + extra);
    return 0;
  }
  return 2;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (__argc < 2) return 2;
  int result = run(__wargv[1], __argc > 2 ? __wargv[2] : L"");
  std::fflush(stdout);
  return result;
}
