#pragma once
// The two siblings of a placed file: the new version is written beside it first, and an old version that cannot
// be replaced directly is moved aside.

#include <string>
#include <string_view>

namespace qmt {

// The target path with the extension of its file name (the part after the last dot that is not the name's first
// character) replaced by "neu", or ".neu" appended when the name has no extension: "Quillmart.exe" gives
// "Quillmart.neu", "archive.tar.gz" "archive.tar.neu", "README" "README.neu", ".config" ".config.neu",
// "name." "name.neu". The file name is what follows the last `\` or `/`.
std::u16string newVersionName(std::u16string_view targetPath);

// The target path's own UTF-16 units with ".alt" appended ("Quillmart.exe" gives "Quillmart.exe.alt"). The units
// are kept as they are, unpaired surrogates included, so the name lies in the target's own folder.
std::u16string oldVersionName(std::u16string_view targetPath);

}  // namespace qmt
