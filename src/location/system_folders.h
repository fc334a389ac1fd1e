#pragma once
// The folder operations on the real file system: creating one directory and the directory test. Every path is
// converted with systemPathForm (preferVerbatim set) first; a failed conversion is the failure of the operation.

#include <windows.h>

#include <string_view>

#include "location/folder_tree.h"
#include "runtime/error.h"
#include "runtime/expected.h"

namespace qmt {

// The system call that creates a directory; replaceable so that tests can see the exact units handed to it.
using CreateDirectoryCall = BOOL(WINAPI*)(LPCWSTR path, LPSECURITY_ATTRIBUTES securityAttributes);

// Creates the single directory `path` with no security attributes: success, or the code from GetLastError. A
// converted path of more than 32766 units fails with ERROR_FILENAME_EXCED_RANGE (206) without a system call, as
// Windows itself refuses it.
Expected<void, Error> createOneDirectory(std::u16string_view path, CreateDirectoryCall call = &::CreateDirectoryW);

// Whether the object at `path` is a directory: queryAttributes (links followed) succeeds, the directory attribute
// is set and it is not a name-surrogate reparse point; the query's error when it fails.
Expected<bool, Error> queryDirectory(std::u16string_view path);

// queryDirectory with a failed query taken as false, its error discarded.
bool isDirectory(std::u16string_view path);

class SystemFolderOperations final : public FolderOperations {
 public:
  explicit SystemFolderOperations(CreateDirectoryCall call = &::CreateDirectoryW) : call_(call) {}
  Expected<void, Error> createDirectory(std::u16string_view path) override { return createOneDirectory(path, call_); }
  Expected<bool, Error> queryDirectory(std::u16string_view path) override { return qmt::queryDirectory(path); }

 private:
  CreateDirectoryCall call_;
};

}  // namespace qmt
