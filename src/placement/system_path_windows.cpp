// systemPathForm on Windows: the portable shape rules, with GetFullPathNameW for paths that need it.
#include "placement/file_access.h"
#include "placement/system_path.h"

namespace qmt {

Expected<std::u16string, Error> systemPathForm(std::u16string_view path, bool preferVerbatim) {
  return systemPathFormWith(path, preferVerbatim, [](const std::u16string& p) { return fullPathName(p); });
}

}  // namespace qmt
