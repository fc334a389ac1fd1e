// holdsExactly: open the file as readWholeFile does, then decide by its size or compare it in pieces.
#include "placement/file_access.h"
#include "placement/file_to_read.h"
#include "placement/whole_compare.h"

namespace qmt {

Expected<bool, Error> holdsExactly(std::u16string_view path, std::span<const std::uint8_t> content) {
  auto opened = openToRead(path);
  if (!opened) return unexpected(opened.error());
  return compareInPieces(opened->sizeHint, content, readerOf(opened->file.get()));
}

}  // namespace qmt
