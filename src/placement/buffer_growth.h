#pragma once
// The growth rules for Windows functions that fill a caller's UTF-16 buffer and report the size they need
// (GetFullPathNameW and its kind): start with 512 units, take the size the function asks for, double on
// ERROR_INSUFFICIENT_BUFFER. Portable, so the rules are checked natively with a scripted function.

#include <cstdint>
#include <functional>
#include <string>

#include "runtime/error.h"
#include "runtime/expected.h"

namespace qmt {

// What one call reported: its return value and the thread's last error right after it (cleared before it).
struct FillReport {
  std::uint32_t result = 0;
  std::uint32_t lastError = 0;
};

// One call of the filling function with a buffer of `capacity` units.
using FillCall = std::function<FillReport(char16_t* buffer, std::uint32_t capacity)>;

inline constexpr std::uint32_t kFirstFillCapacity = 512;

// Calls `call` with growing buffers until it fits: a result larger than the buffer is the size needed; a result
// equal to the buffer with ERROR_INSUFFICIENT_BUFFER doubles it (capped at 0xFFFFFFFF units); a smaller result is
// the text. 0 with a last error fails with that system error; 0 without one is an empty text. A result equal to
// the buffer without that error (which no conforming function returns) is taken as a text filling the buffer.
Expected<std::u16string, Error> fillWithGrowth(const FillCall& call);

}  // namespace qmt
