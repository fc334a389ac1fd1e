#pragma once
// The identical-file check: whether a file holds exactly the given bytes, decided by its reported size when that
// differs, otherwise by reading it in fixed-size pieces through one buffer and comparing as it goes. Portable, so
// the transfer pattern is checked natively with a scripted reader; holdsExactly supplies the handle-based reader.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "placement/whole_read.h"

namespace qmt {

inline constexpr std::size_t kComparePieceSize = 64 * 1024;

// True when `read` yields exactly `content` and then reports the end. A size hint other than content's size is
// false before any read. Otherwise each read asks for the next piece of content (at most kComparePieceSize bytes)
// into one buffer, and the first piece that differs or comes up short at the end of the file is false; after the
// last piece one 32-byte read must report the end (a file that grew is false). A read error fails; so does a piece
// buffer that cannot be allocated (ErrorKind::OutOfMemory).
Expected<bool, Error> compareInPieces(std::optional<std::uint64_t> sizeHint, std::span<const std::uint8_t> content,
                                      const ReadTransfer& read);

}  // namespace qmt
