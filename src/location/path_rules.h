#pragma once
// Joining a base path with a name and taking a path's parent. Paths are UTF-16 units carried unvalidated; the
// rules look only at separators, drive letters and the fixed prefixes, so any other unit passes through unchanged.

#include <optional>
#include <string>
#include <string_view>

namespace qmt {

// `base` joined with the plain name `name` (no drive, root or separator in it): base, one backslash, name. No
// backslash is inserted when the base is empty, ends in a backslash or slash, or is a bare drive ("D:" with
// "programme" gives "D:programme"). A base in extended-length form (beginning with \\?\) is rebuilt from its
// components and the name, each separated by a single backslash; in that form only the backslash separates.
std::u16string joinPath(std::u16string_view base, std::u16string_view name);

// The parent of `path`: a prefix of it without its last component, trailing separators and "." components
// disregarded. nullopt when the path has no parent: the empty path, a drive root (C:\), a share root
// (\\server\share\), a lone root (\) and a bare drive (C:). A single relative name has the empty path as parent.
// Outside the extended-length form a slash separates as a backslash does, in drive and share roots too
// (//server/share/); in that form only the backslash separates and "." is an ordinary name, as the system takes
// it there.
std::optional<std::u16string_view> parentPath(std::u16string_view path);

}  // namespace qmt
