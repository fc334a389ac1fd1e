#include "location/directory_attributes.h"

namespace qmt {

bool describesDirectory(const FileAttributes& attributes) {
  constexpr std::uint32_t kDirectory = 0x10;
  constexpr std::uint32_t kReparsePoint = 0x400;
  constexpr std::uint32_t kNameSurrogate = 0x20000000;
  if ((attributes.attributes & kDirectory) == 0) return false;
  const bool nameSurrogate =
      (attributes.attributes & kReparsePoint) != 0 && (attributes.reparseTag & kNameSurrogate) != 0;
  return !nameSurrogate;
}

}  // namespace qmt
