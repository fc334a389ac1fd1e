#pragma once
// Unpacking of one embedded payload stream: a complete zlib stream (RFC 1950 framing around RFC 1951 deflate data)
// turned into the file's bytes in memory.

#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/byte_buffer.h"
#include "runtime/expected.h"
#include "setup/failure.h"

namespace qmt {

// What one call did with its output buffer; for tests and benchmarks.
struct UnpackStats {
  unsigned growths = 0;          // how many times the buffer's length was doubled
  unsigned moves = 0;            // how many of those doublings moved the bytes (the reserved range was used up)
  std::size_t bufferLength = 0;  // the buffer's length when decoding finished or failed
};

// Inflates `compressed` (read in place, never modified) into a new buffer whose length is the file's exact size.
// The buffer starts at twice the compressed length, zero-filled, and doubles whenever it is full; there is no upper
// limit. It lies in reserved address space, so a doubling normally keeps it in place. Every kind of damage (empty
// or truncated input, a rejected header, a preset dictionary, invalid deflate data, an Adler-32 mismatch) yields
// the same failure, completeFailure(message::kDamaged); bytes after the trailer are ignored. Exhausted memory ends
// the process through allocationFailed. `stats`, when given, is filled in on every path.
Expected<ByteBuffer, SetupFailure> unpack(std::span<const std::uint8_t> compressed, UnpackStats* stats = nullptr);

}  // namespace qmt
