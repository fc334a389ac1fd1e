// writeWholeFile: creates or truncates the file and writes all of the content with synchronous transfers.
#include <windows.h>

#include <algorithm>

#include "placement/file_access.h"
#include "placement/file_system_calls.h"
#include "runtime/handle.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

// Cuts an existing file to zero length: by its allocation size where the system supports that, else by its end.
Expected<void, Error> truncateToZero(HANDLE file) {
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = 0;
  auto& calls = fileSystemCalls();
  if (calls.setFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)) return {};
  FILE_END_OF_FILE_INFO endOfFile{};
  endOfFile.EndOfFile.QuadPart = 0;
  if (calls.setFileInformationByHandle(file, FileEndOfFileInfo, &endOfFile, sizeof endOfFile)) return {};
  return unexpected(Error::system(GetLastError()));
}

}  // namespace

Expected<void, Error> writeWholeFile(std::u16string_view path, std::span<const std::uint8_t> content) {
  auto systemPath = systemPathForm(path, true);
  if (!systemPath) return unexpected(systemPath.error());
  UniqueHandle file(fileSystemCalls().createFile(wide(*systemPath), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                                 0, nullptr));
  if (!file) return unexpected(Error::system(GetLastError()));
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    auto truncated = truncateToZero(file.get());
    if (!truncated) return truncated;
  }
  // The transfer only reads from the buffer it is given for a write.
  auto* next = const_cast<std::uint8_t*>(content.data());
  std::size_t remaining = content.size();
  while (remaining != 0) {
    auto written = fileSystemCalls().transfer(TransferDirection::Write, file.get(), next,
                                              std::min<std::size_t>(remaining, 0xFFFFFFFFu));
    if (!written) return unexpected(written.error());
    if (*written == 0) return unexpected(Error::of(ErrorKind::WriteZero));
    next += *written;
    remaining -= std::min(*written, remaining);
  }
  return {};
}

}  // namespace qmt
