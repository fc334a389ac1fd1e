// renameFile: MoveFileExW, and when that is denied access, a rename through a handle with POSIX semantics (which
// lets the system rename onto a name whose old file is still open elsewhere).
#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "placement/file_access.h"
#include "placement/file_system_calls.h"
#include "runtime/handle.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

struct FreeBlock {
  void operator()(void* block) const { std::free(block); }
};

Expected<void, Error> renameThroughHandle(const std::u16string& from, const std::u16string& to) {
  auto& calls = fileSystemCalls();
  UniqueHandle source(calls.createFile(wide(from), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!source) return unexpected(Error::system(ERROR_ACCESS_DENIED));
  std::uint64_t nameBytes = std::uint64_t{to.size()} * sizeof(char16_t);
  if (nameBytes > 0xFFFFFFFFu) return unexpected(Error::system(ERROR_ACCESS_DENIED));

  // The block ends in the whole new name and its NUL, in place of the one-unit array the structure declares.
  std::size_t blockSize = offsetof(FILE_RENAME_INFO, FileName) + static_cast<std::size_t>(nameBytes) + 2;
  std::unique_ptr<void, FreeBlock> block(calls.allocate(blockSize));
  if (!block) return unexpected(Error::of(ErrorKind::OutOfMemory));
  std::memset(block.get(), 0, blockSize);
  auto* info = static_cast<FILE_RENAME_INFO*>(block.get());
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(info->FileName, to.c_str(), static_cast<std::size_t>(nameBytes) + 2);

  if (calls.setFileInformationByHandle(source.get(), kFileRenameInfoEx, info, static_cast<DWORD>(blockSize))) {
    return {};
  }
  // Only a folder that is not empty is worth telling apart; everything else stays the first call's denial.
  DWORD code = GetLastError() == ERROR_DIR_NOT_EMPTY ? ERROR_DIR_NOT_EMPTY : ERROR_ACCESS_DENIED;
  return unexpected(Error::system(code));
}

}  // namespace

Expected<void, Error> renameFile(std::u16string_view from, std::u16string_view to) {
  auto systemFrom = systemPathForm(from, true);
  if (!systemFrom) return unexpected(systemFrom.error());
  auto systemTo = systemPathForm(to, true);
  if (!systemTo) return unexpected(systemTo.error());
  if (MoveFileExW(wide(*systemFrom), wide(*systemTo), MOVEFILE_REPLACE_EXISTING)) return {};
  DWORD code = GetLastError();
  if (code != ERROR_ACCESS_DENIED) return unexpected(Error::system(code));
  return renameThroughHandle(*systemFrom, *systemTo);
}

}  // namespace qmt
