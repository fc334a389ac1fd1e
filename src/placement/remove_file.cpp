// removeFile: DeleteFileW, and when that is denied access, a POSIX-semantics delete through a handle that ignores
// the read-only attribute.
#include <windows.h>

#include "placement/file_access.h"
#include "placement/file_system_calls.h"
#include "runtime/handle.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

Expected<void, Error> removeThroughHandle(const std::u16string& path) {
  auto& calls = fileSystemCalls();
  UniqueHandle file(calls.createFile(wide(path), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return unexpected(Error::system(ERROR_ACCESS_DENIED));
  FILE_DISPOSITION_INFO_EX disposition{};
  disposition.Flags = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                      FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;
  if (calls.setFileInformationByHandle(file.get(), kFileDispositionInfoEx, &disposition, sizeof disposition)) {
    return {};
  }
  return unexpected(Error::system(ERROR_ACCESS_DENIED));
}

}  // namespace

Expected<void, Error> removeFile(std::u16string_view path) {
  auto systemPath = systemPathForm(path, true);
  if (!systemPath) return unexpected(systemPath.error());
  if (DeleteFileW(wide(*systemPath))) return {};
  DWORD code = GetLastError();
  if (code != ERROR_ACCESS_DENIED) return unexpected(Error::system(code));
  return removeThroughHandle(*systemPath);
}

}  // namespace qmt
