#include "launch/working_directory.h"

#include "launch/own_full_path.h"
#include "launch/path_shapes.h"

namespace qmt {

Expected<std::optional<std::u16string>, Error> workingDirectoryString(const std::optional<std::u16string>& directory) {
  if (!directory) return std::optional<std::u16string>();
  if (directory->find(u'\0') != std::u16string::npos) return unexpected(Error::of(ErrorKind::NulInData));
  if (std::optional<std::u16string> shorter = workingDirectoryShortForm(*directory)) {
    if (isOwnFullPath(*shorter)) return shorter;
  }
  return directory;
}

}  // namespace qmt
