// The probe's unbounded recursion, compiled like the setup's libraries (no exception and no unwind tables; see
// tests/runtime/CMakeLists.txt), so that its stack overflows in frames that carry no unwind data, as the setup's
// own code would.
#include "probe_recursion.h"

namespace probe {
namespace {

// Always true; read through a volatile so that the compiler cannot prove the recursion endless.
volatile bool keepRecursing = true;

}  // namespace

int recurse(int depth) {
  if (!keepRecursing) return 0;
  volatile char frame[512];
  frame[depth % sizeof frame] = static_cast<char>(depth);
  return recurse(depth + 1) + frame[0];  // not a tail call
}

}  // namespace probe
