// readWholeFile and holdsExactly: open the file for reading, take its size as a hint, then read it whole or
// compare it in pieces.
#include <windows.h>

#include "placement/file_access.h"
#include "placement/file_information.h"
#include "placement/file_system_calls.h"
#include "placement/whole_compare.h"
#include "placement/whole_read.h"
#include "runtime/handle.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

struct FileToRead {
  UniqueHandle file;
  std::optional<std::uint64_t> sizeHint;
};

Expected<FileToRead, Error> openToRead(std::u16string_view path) {
  auto systemPath = systemPathForm(path, true);
  if (!systemPath) return unexpected(systemPath.error());
  FileToRead opened{UniqueHandle(fileSystemCalls().createFile(wide(*systemPath), GENERIC_READ, kShareAll, nullptr,
                                                              OPEN_EXISTING, 0, nullptr)),
                    std::nullopt};
  if (!opened.file) return unexpected(Error::system(GetLastError()));
  // The size is only a hint: a file that cannot report it is read without one, a file that changes meanwhile is
  // read to its actual end.
  if (auto info = informationOfHandle(opened.file.get())) opened.sizeHint = info->size;
  return opened;
}

ReadTransfer readerOf(HANDLE handle) {
  return [handle](std::uint8_t* buffer, std::size_t length) {
    return fileSystemCalls().transfer(TransferDirection::Read, handle, buffer, length);
  };
}

}  // namespace

Expected<ByteBuffer, Error> readWholeFile(std::u16string_view path) {
  auto opened = openToRead(path);
  if (!opened) return unexpected(opened.error());
  return readAllWithHint(opened->sizeHint, readerOf(opened->file.get()));
}

Expected<bool, Error> holdsExactly(std::u16string_view path, std::span<const std::uint8_t> content) {
  auto opened = openToRead(path);
  if (!opened) return unexpected(opened.error());
  return compareInPieces(opened->sizeHint, content, readerOf(opened->file.get()));
}

}  // namespace qmt
