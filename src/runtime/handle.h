#pragma once
// Owners of Windows handles. Each handle has exactly one owner, which closes it with CloseHandle. Both NULL and
// INVALID_HANDLE_VALUE mean "no handle". Pseudo-handles (GetCurrentProcess) are never wrapped.

#include <windows.h>

#include <utility>

namespace qmt {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return isValid(handle_); }

  // Closes the held handle, if any, and takes `handle` instead.
  void reset(HANDLE handle = nullptr) {
    HANDLE old = std::exchange(handle_, handle);
    if (isValid(old)) CloseHandle(old);
  }
  // Gives up ownership without closing.
  HANDLE release() { return std::exchange(handle_, nullptr); }

  static bool isValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = nullptr;
};

// Owns both handles of a PROCESS_INFORMATION filled by CreateProcessW.
struct UniqueProcessInformation {
  UniqueHandle process;
  UniqueHandle thread;

  static UniqueProcessInformation adopt(const PROCESS_INFORMATION& info) {
    return {UniqueHandle(info.hProcess), UniqueHandle(info.hThread)};
  }
};

}  // namespace qmt
