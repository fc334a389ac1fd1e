#pragma once
// The working-directory string handed to CreateProcessW.

#include <optional>
#include <string>

#include "runtime/error.h"
#include "runtime/expected.h"

namespace qmt {

// Absent stays absent (the new process gets the caller's current directory). A directory in extended-length form
// (\\?\UNC... or \\?\...) is passed without its prefix when the shorter string is exactly its own full path, and
// whole otherwise; any other directory is passed unchanged. Fails with ErrorKind::NulInData for a NUL inside.
Expected<std::optional<std::u16string>, Error> workingDirectoryString(const std::optional<std::u16string>& directory);

}  // namespace qmt
