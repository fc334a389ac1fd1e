// openToRead and readerOf: the opening and the reader shared by readWholeFile and holdsExactly.
#include "placement/file_to_read.h"

#include "placement/file_access.h"
#include "placement/file_information.h"
#include "placement/file_system_calls.h"
#include "runtime/wide.h"

namespace qmt {

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

}  // namespace qmt
