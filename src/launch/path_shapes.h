#pragma once
// Decisions about the shape of a program path or working directory that need no system call: which shorter form a
// path in extended-length form may be passed in (when it is exactly its own full path), and the suffix tests.

#include <optional>
#include <string>
#include <string_view>

namespace qmt {

// Whether `program` names no file: it is empty or ends in a separator. Separators are backslash and slash,
// except that in a path beginning with \\?\ only the backslash is one.
bool lacksFileName(std::u16string_view program);

// Whether `path` is at least four units long and ends in ".exe", letters in any ASCII case.
bool hasExeSuffix(std::u16string_view path);

// Whether `path` ends in ".bat" or ".cmd", letters in any ASCII case.
bool hasBatchSuffix(std::u16string_view path);

// Whether `path` contains a backslash or slash.
bool hasDirectoryPart(std::u16string_view path);

// Whether `path` begins with \\?\ or \??\ (it is handed to the system verbatim).
bool beginsVerbatim(std::u16string_view path);

// For an application name: the path without its extended-length prefix, for \\?\X:\... (the part after \\?\)
// and for \\?\UNC\server\share... (\\server\share...); nullopt for every other shape.
std::optional<std::u16string> applicationShortForm(std::u16string_view program);

// For a working directory: the path without its extended-length prefix, for \\?\UNC... (the C replaced by a
// backslash and the string taken from there) and for any other \\?\... (the part after \\?\); nullopt otherwise.
std::optional<std::u16string> workingDirectoryShortForm(std::u16string_view directory);

}  // namespace qmt
