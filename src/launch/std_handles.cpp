#include "launch/std_handles.h"

namespace qmt {

Expected<UniqueHandle, Error> inheritableStdHandle(DWORD which, DuplicateHandleCall duplicate) {
  const HANDLE handle = GetStdHandle(which);
  if (!UniqueHandle::isValid(handle)) return UniqueHandle();
  HANDLE copy = nullptr;
  const HANDLE self = GetCurrentProcess();
  if (!duplicate(self, handle, self, &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    const DWORD error = GetLastError();
    // A value that names no object (left by a careless parent) is as good as none; the application starts
    // without it rather than not at all.
    if (error == ERROR_INVALID_HANDLE) return UniqueHandle();
    return unexpected(Error::system(error));
  }
  return UniqueHandle(copy);
}

}  // namespace qmt
