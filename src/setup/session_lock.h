#pragma once
// One setup at a time per user session. Two setups placing the same files at once share one ".neu" sibling and
// can leave the folder without Quillmart.exe; a named mutex of the session makes the second wait for the first.

#include <windows.h>

#include "runtime/handle.h"

namespace qmt {

// The mutex shared by every setup of one user session (the Local\ namespace is per session).
inline constexpr const wchar_t* kSessionMutexName = L"Local\\Quillmart-Setup";

// The system calls of the session lock; tests replace them to produce failures Wine cannot.
struct SessionLockCalls {
  decltype(&::CreateMutexW) createMutex = &::CreateMutexW;
  decltype(&::WaitForSingleObject) waitForSingleObject = &::WaitForSingleObject;
  decltype(&::ReleaseMutex) releaseMutex = &::ReleaseMutex;
};

// Owns the session mutex's handle and, when it was acquired, the mutex itself, which it releases before closing
// the handle. Move-only.
class SessionLock {
 public:
  SessionLock() = default;
  SessionLock(SessionLock&& other) noexcept;
  SessionLock& operator=(SessionLock&& other) noexcept;
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;
  ~SessionLock();

  // Whether this owner holds the mutex.
  bool held() const { return held_; }

 private:
  friend SessionLock acquireSessionLock(const wchar_t* name, const SessionLockCalls& calls);
  void release();

  UniqueHandle mutex_;
  bool held_ = false;
  decltype(&::ReleaseMutex) releaseMutex_ = nullptr;
};

// Waits, without a time limit, until no other holder of the mutex `name` is left, then holds it. A mutex whose
// holder ended without releasing it (WAIT_ABANDONED) counts as free and is held. When the mutex cannot be created
// or waited for, the result holds nothing and the setup runs unguarded, as it would without this lock: a lost
// lock only reopens a rare race that the next run repairs, while refusing to install would block every run.
SessionLock acquireSessionLock(const wchar_t* name = kSessionMutexName, const SessionLockCalls& calls = {});

}  // namespace qmt
