#pragma once
// Replaces members of fileSystemCalls() for one test and restores all of them at the end of the scope.

#include "placement/file_system_calls.h"

namespace qmt::testing {

class ScopedCalls {
 public:
  ScopedCalls() : saved_(fileSystemCalls()) {}
  ~ScopedCalls() { fileSystemCalls() = saved_; }
  ScopedCalls(const ScopedCalls&) = delete;
  ScopedCalls& operator=(const ScopedCalls&) = delete;
  FileSystemCalls* operator->() { return &fileSystemCalls(); }

 private:
  FileSystemCalls saved_;
};

}  // namespace qmt::testing
