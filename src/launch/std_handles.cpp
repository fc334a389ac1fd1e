#include "launch/std_handles.h"

namespace qmt {

Expected<UniqueHandle, Error> inheritableStdHandle(DWORD which, DuplicateHandleCall duplicate) {
  const HANDLE handle = GetStdHandle(which);
  if (!UniqueHandle::isValid(handle)) return UniqueHandle();
  HANDLE copy = nullptr;
  const HANDLE self = GetCurrentProcess();
  if (!duplicate(self, handle, self, &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return unexpected(Error::system(GetLastError()));
  }
  return UniqueHandle(copy);
}

}  // namespace qmt
