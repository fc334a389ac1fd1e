#pragma once
// The exactness test used when a path in extended-length form may be passed without its prefix.

#include <string>

namespace qmt {

// Whether `path` is exactly its own full path: GetFullPathNameW, called once with a buffer of exactly the path's
// length plus its NUL, returns that length and the same units. A failing call (a result of 0, so the empty path
// is never exact) and a path whose length with its NUL does not fit in 32 bits (decided without calling Windows)
// count as not exact.
bool isOwnFullPath(const std::u16string& path);

}  // namespace qmt
