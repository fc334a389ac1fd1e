#include "setup/session_lock.h"

#include <utility>

namespace qmt {

SessionLock::SessionLock(SessionLock&& other) noexcept
    : mutex_(std::move(other.mutex_)),
      held_(std::exchange(other.held_, false)),
      releaseMutex_(other.releaseMutex_) {}

SessionLock& SessionLock::operator=(SessionLock&& other) noexcept {
  if (this != &other) {
    release();
    mutex_ = std::move(other.mutex_);
    held_ = std::exchange(other.held_, false);
    releaseMutex_ = other.releaseMutex_;
  }
  return *this;
}

SessionLock::~SessionLock() { release(); }

// The mutex is released before its handle closes; closing alone would leave it abandoned for the next waiter.
void SessionLock::release() {
  if (held_) releaseMutex_(mutex_.get());
  held_ = false;
  mutex_.reset();
}

SessionLock acquireSessionLock(const wchar_t* name, const SessionLockCalls& calls) {
  SessionLock lock;
  lock.releaseMutex_ = calls.releaseMutex;
  lock.mutex_.reset(calls.createMutex(nullptr, FALSE, name));
  if (!lock.mutex_) return lock;
  const DWORD waited = calls.waitForSingleObject(lock.mutex_.get(), INFINITE);
  lock.held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  return lock;
}

}  // namespace qmt
