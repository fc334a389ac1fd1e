#include "placement/whole_compare.h"

#include <algorithm>
#include <cstring>

namespace qmt {

// The old file is never held whole in memory: one piece buffer, reused, touches a few pages instead of a second
// copy of the file, and a size that differs decides without reading at all. The answer is the one a whole read
// would give: identical only when the bytes read up to the end of the file are exactly `content`.
Expected<bool, Error> compareInPieces(std::optional<std::uint64_t> sizeHint, std::span<const std::uint8_t> content,
                                      const ReadTransfer& read) {
  if (sizeHint && *sizeHint != content.size()) return false;
  const std::size_t pieceSize = std::clamp(content.size(), kProbeSize, kComparePieceSize);
  auto piece = ByteBuffer::tryWithCapacity(pieceSize);
  if (!piece) return unexpected(Error::of(ErrorKind::OutOfMemory));
  std::size_t compared = 0;
  for (;;) {
    const std::size_t remaining = content.size() - compared;
    auto n = read(piece->data(), remaining == 0 ? kProbeSize : std::min(remaining, pieceSize));
    if (!n) return unexpected(n.error());
    if (*n == 0) return remaining == 0;
    if (*n > remaining || std::memcmp(piece->data(), content.data() + compared, *n) != 0) return false;
    compared += *n;
  }
}

}  // namespace qmt
