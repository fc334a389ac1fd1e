#pragma once
// The process-wide lock around every process creation. The inheritable duplicates of the standard handles exist
// only while it is held, so that no other process start can pass them on by accident.

#include <windows.h>

namespace qmt {

// Statically initialised, so it is usable before any start-up work, and never destroyed.
extern SRWLOCK processCreationLock;

// Holds processCreationLock exclusively for its lifetime.
class ProcessCreationGuard {
 public:
  ProcessCreationGuard() { AcquireSRWLockExclusive(&processCreationLock); }
  ~ProcessCreationGuard() { ReleaseSRWLockExclusive(&processCreationLock); }
  ProcessCreationGuard(const ProcessCreationGuard&) = delete;
  ProcessCreationGuard& operator=(const ProcessCreationGuard&) = delete;
};

}  // namespace qmt
