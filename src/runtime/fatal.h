#pragma once
// Abnormal ends of the process. Neither shows a message box: they are not setup failures.

#include <cstddef>
#include <string_view>

namespace qmt {

// Exhausted memory: writes "memory allocation of N bytes failed" and a line break to standard error and ends the
// process at once through fail-fast with code 7 (on Linux builds: abort).
[[noreturn]] void allocationFailed(std::size_t bytes);

// An internal fault (a broken invariant, an unexpected exception): writes "internal fault: WHAT" and a line break
// to standard error and ends the process with exit status 101.
[[noreturn]] void internalFault(std::string_view what);

}  // namespace qmt
