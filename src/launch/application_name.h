#pragma once
// The application name handed to CreateProcessW for a program path, and the batch-file test on it.

#include <string>
#include <string_view>

#include "runtime/error.h"
#include "runtime/expected.h"

namespace qmt {

// The application name for `program`: its user-path form. A program longer than 259 units is passed unchanged;
// \\?\X:\... and \\?\UNC\server\share... lose their prefix when the rest is exactly its own full path; every
// other program becomes systemPathForm(program, preferVerbatim off) (a relative path resolved against the current
// directory). No search along PATH is made and no ".exe" is appended.
// Fails with ErrorKind::NoFileName for an empty program or one ending in a separator, ErrorKind::NulInPath for a
// program holding a NUL, and with the system error of GetFullPathNameW.
Expected<std::u16string, Error> applicationNameFor(std::u16string_view program);

// Whether `applicationName` (no NUL inside) denotes a batch file (".bat" or ".cmd", any ASCII case): tested on
// the name itself when it begins with \\?\ or \??\, otherwise on its full path. Fails with the system error of
// GetFullPathNameW.
Expected<bool, Error> isBatchFile(const std::u16string& applicationName);

}  // namespace qmt
