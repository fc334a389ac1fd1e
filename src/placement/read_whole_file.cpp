// readWholeFile: open the file for reading, take its size as a hint, then read it whole.
#include "placement/file_access.h"
#include "placement/file_to_read.h"
#include "placement/whole_read.h"

namespace qmt {

Expected<ByteBuffer, Error> readWholeFile(std::u16string_view path) {
  auto opened = openToRead(path);
  if (!opened) return unexpected(opened.error());
  return readAllWithHint(opened->sizeHint, readerOf(opened->file.get()));
}

}  // namespace qmt
