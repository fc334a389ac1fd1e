#include "launch/own_full_path.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "runtime/wide.h"

namespace qmt {

bool isOwnFullPath(const std::u16string& path) {
  const std::size_t withNul = path.size() + 1;
  if (withNul > UINT32_MAX) return false;
  std::vector<wchar_t> buffer(withNul);
  const DWORD length = GetFullPathNameW(wide(path), static_cast<DWORD>(withNul), buffer.data(), nullptr);
  return length != 0 && length == path.size() && fromWide(buffer.data(), length) == path;
}

}  // namespace qmt
