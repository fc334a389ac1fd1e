#pragma once
// Inheritable duplicates of the caller's standard handles, for handing them to a new process.

#include <windows.h>

#include "runtime/error.h"
#include "runtime/expected.h"
#include "runtime/handle.h"

namespace qmt {

using DuplicateHandleCall = decltype(&::DuplicateHandle);

// An inheritable duplicate, with the same access, of the standard handle `which` (STD_INPUT_HANDLE,
// STD_OUTPUT_HANDLE or STD_ERROR_HANDLE). A caller without that handle (GetStdHandle gives NULL or
// INVALID_HANDLE_VALUE) gets an empty UniqueHandle; that is not an error. So does a handle value that names no
// object (duplication fails with ERROR_INVALID_HANDLE). Any other failed duplication fails with its system
// error. `duplicate` is the DuplicateHandle to call (replaceable for tests).
Expected<UniqueHandle, Error> inheritableStdHandle(DWORD which, DuplicateHandleCall duplicate = &::DuplicateHandle);

}  // namespace qmt
