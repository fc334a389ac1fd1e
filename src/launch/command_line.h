#pragma once
// Windows command lines as UTF-16 units: splitting one into argument strings and writing one from which the new
// process recovers the same strings. Units are carried as they are; an unpaired surrogate passes unchanged.
//
// For a program path without quote characters (and without NUL), splitting what buildCommandLine wrote gives
// the program path as first element and then the same arguments, unit for unit.

#include <string>
#include <string_view>
#include <vector>

#include "runtime/error.h"
#include "runtime/expected.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qmt {

// Splits the NUL-terminated command line `line` (not null) into the program name and its arguments. Reads no
// unit past the terminating NUL. The result is never empty: its first element is the program name, which may be
// empty (an empty line gives one empty element; the caller decides what an empty line stands for).
//
// Program name: a quote toggles quoting and is dropped; an unquoted blank or tab ends it; a backslash is an
// ordinary unit. Arguments: unquoted blanks and tabs separate them; n backslashes before a quote stand for n/2
// backslashes and, when n is odd, a literal quote; "" inside quotes is a literal quote; other backslashes are
// literal. Trailing blanks add no empty argument; a lone quote gives one.
std::vector<std::u16string> splitCommandLineText(const char16_t* line);

#ifdef _WIN32
// Splits a Windows command line (as GetCommandLineW gives it; may be null). A null or empty line stands for the
// running executable alone: the result is its full path (an empty string if that cannot be had). Otherwise as
// splitCommandLineText. The result is never empty; its first element is the program name.
std::vector<std::u16string> splitCommandLine(const char16_t* commandLine);

// splitCommandLine with the given GetModuleFileNameW to call for an empty line (a seam for tests: Wine starts no
// program from a path as long as the first buffer for it).
using ModuleFileNameCall = decltype(&::GetModuleFileNameW);
std::vector<std::u16string> splitCommandLineWith(const char16_t* commandLine, ModuleFileNameCall moduleFileName);
#endif

// The command line that starts `program` with `arguments`: the program in quotes, unchanged, then each argument
// after one blank, quoted when it is empty or holds a blank or tab, with backslashes doubled before a quote or the
// closing quote and every quote preceded by a backslash. An argument holding a NUL fails with
// ErrorKind::NulInData. The program is not checked (the application name is formed and checked first).
// The result's c_str() is the NUL-terminated line; its data() is writable as CreateProcessW requires.
Expected<std::u16string, Error> buildCommandLine(std::u16string_view program,
                                                 const std::vector<std::u16string>& arguments);

}  // namespace qmt
