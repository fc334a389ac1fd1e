// queryAttributes and isPresent: the attributes of the object at a path, with the directory-entry fall-back for
// objects that cannot be opened and the retry on the link itself for ERROR_CANT_ACCESS_FILE.
#include <windows.h>

#include "placement/file_access.h"
#include "placement/file_information.h"
#include "placement/file_system_calls.h"
#include "runtime/handle.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

constexpr DWORD kNameSurrogateBit = 0x20000000;

bool isNameSurrogate(std::uint32_t attributes, std::uint32_t tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (tag & kNameSurrogateBit);
}

FileAttributes fromFindData(const WIN32_FIND_DATAW& data) {
  FileAttributes result;
  result.attributes = data.dwFileAttributes;
  // The reserved word holds the reparse tag only for reparse points.
  result.reparseTag = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? data.dwReserved0 : 0;
  result.size = joinHighLow(data.nFileSizeHigh, data.nFileSizeLow);
  result.creationTime = fileTimeValue(data.ftCreationTime);
  result.lastAccessTime = fileTimeValue(data.ftLastAccessTime);
  result.lastWriteTime = fileTimeValue(data.ftLastWriteTime);
  return result;
}

// The object's entry in its directory, for an object that may not be opened. A link (name surrogate) is not
// followed this way, so it counts as a failure when links are to be followed.
Expected<FileAttributes, Error> queryDirectoryEntry(const std::u16string& path, bool followLinks, Error openError) {
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileExW(wide(path), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return unexpected(openError);
  FindClose(find);
  FileAttributes found = fromFindData(data);
  if (followLinks && isNameSurrogate(found.attributes, found.reparseTag)) return unexpected(openError);
  return found;
}

Expected<FileAttributes, Error> queryOnce(const std::u16string& path, bool followLinks) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  auto& calls = fileSystemCalls();
  UniqueHandle file(calls.createFile(wide(path), 0, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
  if (file) return calls.information(file.get());
  DWORD code = GetLastError();
  if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) {
    return queryDirectoryEntry(path, followLinks, Error::system(code));
  }
  return unexpected(Error::system(code));
}

}  // namespace

Expected<FileAttributes, Error> queryAttributes(std::u16string_view path) {
  auto systemPath = systemPathForm(path, true);
  if (!systemPath) return unexpected(systemPath.error());
  auto first = queryOnce(*systemPath, true);
  if (first || !first.error().isSystem(ERROR_CANT_ACCESS_FILE)) return first;
  // The link itself may still be queried when its target cannot be; a link that would need following cannot.
  auto onLink = queryOnce(*systemPath, false);
  if (onLink && !isNameSurrogate(onLink->attributes, onLink->reparseTag)) return onLink;
  return first;
}

bool isPresent(std::u16string_view path) { return queryAttributes(path).has_value(); }

}  // namespace qmt
