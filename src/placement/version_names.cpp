#include "placement/version_names.h"

namespace qmt {

std::u16string newVersionName(std::u16string_view targetPath) {
  std::size_t nameStart = targetPath.find_last_of(u"\\/");
  nameStart = nameStart == std::u16string_view::npos ? 0 : nameStart + 1;
  std::size_t dot = targetPath.rfind(u'.');
  std::size_t stemEnd = (dot != std::u16string_view::npos && dot > nameStart) ? dot : targetPath.size();
  std::u16string name(targetPath.substr(0, stemEnd));
  name += u".neu";
  return name;
}

std::u16string oldVersionName(std::u16string_view targetPath) {
  std::u16string name(targetPath);
  name += u".alt";
  return name;
}

}  // namespace qmt
