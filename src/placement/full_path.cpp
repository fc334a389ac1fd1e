// fullPathName: GetFullPathNameW with the shared growth rules.
#include <windows.h>

#include "placement/buffer_growth.h"
#include "placement/file_access.h"
#include "runtime/wide.h"

namespace qmt {

Expected<std::u16string, Error> fullPathName(const std::u16string& path) {
  return fillWithGrowth([&path](char16_t* buffer, std::uint32_t capacity) {
    SetLastError(0);
    DWORD result = GetFullPathNameW(wide(path), capacity, wide(buffer), nullptr);
    return FillReport{result, GetLastError()};
  });
}

}  // namespace qmt
