#pragma once
// The size-hinted strategy for reading a whole file: a buffer of exactly the reported size, filled by one direct
// transfer, with 32-byte probes to confirm the end without growing the buffer. Portable, so the transfer pattern
// is checked natively with a scripted reader; readWholeFile supplies the handle-based reader and the hint.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "runtime/byte_buffer.h"
#include "runtime/error.h"
#include "runtime/expected.h"

namespace qmt {

// One read at the current position into `buffer`, of up to `length` bytes: the count read (0 at the end), or
// the error.
using ReadTransfer = std::function<Expected<std::size_t, Error>(std::uint8_t* buffer, std::size_t length)>;

inline constexpr std::size_t kProbeSize = 32;

// Reads until `read` reports 0 bytes. With a size hint S the buffer starts with capacity exactly S (a hint that
// cannot be allocated, or exceeds the largest signed 64-bit value, fails with ErrorKind::OutOfMemory); each direct
// read asks for at most S + 1024 rounded up to a multiple of 8192. Without a hint the buffer starts empty and the
// first direct read asks for at most 8192 bytes. Any read error fails the whole read. Growth beyond the hint ends
// the process when memory runs out (ByteBuffer rules).
Expected<ByteBuffer, Error> readAllWithHint(std::optional<std::uint64_t> sizeHint, const ReadTransfer& read);

}  // namespace qmt
