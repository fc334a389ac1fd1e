#pragma once

namespace probe {

// Recurses with a 512-byte frame per call until the main thread's stack overflows; does not return.
int recurse(int depth);

}  // namespace probe
