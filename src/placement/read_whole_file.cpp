// readWholeFile: opens the file for reading and reads it with the size-hinted strategy.
#include <windows.h>

#include "placement/file_access.h"
#include "placement/file_information.h"
#include "placement/file_system_calls.h"
#include "placement/whole_read.h"
#include "runtime/handle.h"
#include "runtime/wide.h"

namespace qmt {

Expected<ByteBuffer, Error> readWholeFile(std::u16string_view path) {
  auto systemPath = systemPathForm(path, true);
  if (!systemPath) return unexpected(systemPath.error());
  UniqueHandle file(fileSystemCalls().createFile(wide(*systemPath), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                                 0, nullptr));
  if (!file) return unexpected(Error::system(GetLastError()));
  // The size is only a hint: a file that cannot report it is read without one, a file that changes meanwhile is
  // read to its actual end.
  std::optional<std::uint64_t> sizeHint;
  if (auto info = informationOfHandle(file.get())) sizeHint = info->size;
  HANDLE handle = file.get();
  return readAllWithHint(sizeHint, [handle](std::uint8_t* buffer, std::size_t length) {
    return fileSystemCalls().transfer(TransferDirection::Read, handle, buffer, length);
  });
}

}  // namespace qmt
