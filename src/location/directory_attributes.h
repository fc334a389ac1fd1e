#pragma once

#include "placement/file_access.h"

namespace qmt {

// Whether queried attributes describe a directory that the setup can use as one: the directory attribute (0x10)
// set, and not a name-surrogate reparse point (attribute 0x400 with tag bit 0x20000000) such as a link that
// could not be followed.
bool describesDirectory(const FileAttributes& attributes);

}  // namespace qmt
