#pragma once
// The path-shape rules that decide how a path is handed to the system: which paths pass unchanged, which are
// first made full by the system (GetFullPathNameW), and which extended-length prefix a full path gets. Portable,
// so the rules are checked natively as well; the Windows layer supplies the full-path resolution.

#include <functional>
#include <string>
#include <string_view>

#include "runtime/error.h"
#include "runtime/expected.h"

namespace qmt {

// Resolves a path (no NUL inside) to its full form; on Windows fullPathName.
using FullPathResolver = std::function<Expected<std::u16string, Error>(const std::u16string&)>;

// Paths up to this many units, the terminating NUL included, are short enough for the system's legacy path
// handling; longer ones need the extended-length form.
inline constexpr std::size_t kLegacyPathLimit = 248;

// systemPathForm with the full-path resolution supplied by the caller: the result's size excludes the NUL that
// c_str() adds. Fails with ErrorKind::NulInPath for a path holding a NUL, before `resolve` is called, and with the
// resolver's error when it fails.
Expected<std::u16string, Error> systemPathFormWith(std::u16string_view path, bool preferVerbatim,
                                                   const FullPathResolver& resolve);

// The extended-length form of a full path, chosen by its shape: `\\?\` before a drive path, `\\?\` in place of a
// leading `\\.\`, `\\?\UNC\` in place of the leading `\\` of a server path; verbatim and other paths unchanged.
std::u16string verbatimForm(std::u16string fullPath);

}  // namespace qmt
