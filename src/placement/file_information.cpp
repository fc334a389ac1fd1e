#include "placement/file_information.h"

namespace qmt {

Expected<FileAttributes, Error> informationOfHandle(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return unexpected(Error::system(GetLastError()));
  FileAttributes result;
  result.attributes = info.dwFileAttributes;
  result.size = joinHighLow(info.nFileSizeHigh, info.nFileSizeLow);
  result.creationTime = fileTimeValue(info.ftCreationTime);
  result.lastAccessTime = fileTimeValue(info.ftLastAccessTime);
  result.lastWriteTime = fileTimeValue(info.ftLastWriteTime);
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)) {
      return unexpected(Error::system(GetLastError()));
    }
    result.reparseTag = tag.ReparseTag;
  }
  return result;
}

}  // namespace qmt
