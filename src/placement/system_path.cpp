#include "placement/system_path.h"

#include <utility>

namespace qmt {
namespace {

bool isSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }
bool isAsciiLetter(char16_t unit) { return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z'); }

bool isAlreadyVerbatim(std::u16string_view path) {
  return path.starts_with(u"\\\\?\\") || path.starts_with(u"\\??\\");
}

// A drive-letter path with either separator, or a bare drive with its colon ("C:", "C:\x", "C:/x"), or a path
// that begins with two separators of any kind: both are absolute, so the system takes them as they are.
bool isAbsoluteShape(std::u16string_view path) {
  if (path.size() >= 2 && !isSeparator(path[0]) && path[1] == u':') {
    return path.size() == 2 || isSeparator(path[2]);
  }
  return path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
}

}  // namespace

std::u16string verbatimForm(std::u16string fullPath) {
  std::u16string_view path = fullPath;
  if (path.size() >= 3 && isAsciiLetter(path[0]) && path[1] == u':' && path[2] == u'\\') {
    return u"\\\\?\\" + fullPath;
  }
  if (path.starts_with(u"\\\\.\\")) return u"\\\\?\\" + fullPath.substr(4);
  if (isAlreadyVerbatim(path)) return fullPath;
  if (path.starts_with(u"\\\\")) return u"\\\\?\\UNC\\" + fullPath.substr(2);
  return fullPath;
}

Expected<std::u16string, Error> systemPathFormWith(std::u16string_view path, bool preferVerbatim,
                                                   const FullPathResolver& resolve) {
  if (path.find(u'\0') != std::u16string_view::npos) return unexpected(Error::of(ErrorKind::NulInPath));
  std::u16string units(path);
  if (units.empty() || isAlreadyVerbatim(units)) return units;
  if (units.size() + 1 < kLegacyPathLimit && isAbsoluteShape(units)) return units;

  auto full = resolve(units);
  if (!full) return unexpected(full.error());
  if (preferVerbatim || full->size() + 1 >= kLegacyPathLimit) return verbatimForm(std::move(*full));
  return std::move(*full);
}

}  // namespace qmt
