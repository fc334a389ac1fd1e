// Abnormal ends for the native build of the portable parts (tests, fuzzers, build-time tools).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/fatal.h"

namespace qmt {

void allocationFailed(std::size_t bytes) {
  std::fprintf(stderr, "memory allocation of %zu bytes failed\n", bytes);
  std::abort();
}

void internalFault(std::string_view what) {
  std::fprintf(stderr, "internal fault: %.*s\n", static_cast<int>(what.size()), what.data());
  std::_Exit(101);
}

}  // namespace qmt
