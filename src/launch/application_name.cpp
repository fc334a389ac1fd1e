#include "launch/application_name.h"

#include "launch/own_full_path.h"
#include "launch/path_shapes.h"
#include "placement/file_access.h"

namespace qmt {
namespace {

// Paths longer than this (counting the NUL) are passed as they are.
constexpr std::size_t kLongestShortenedPath = 260;

}  // namespace

Expected<std::u16string, Error> applicationNameFor(std::u16string_view program) {
  if (lacksFileName(program)) return unexpected(Error::of(ErrorKind::NoFileName));
  if (program.find(u'\0') != std::u16string_view::npos) return unexpected(Error::of(ErrorKind::NulInPath));
  std::u16string name(program);
  if (name.size() + 1 > kLongestShortenedPath) return name;
  if (std::optional<std::u16string> shorter = applicationShortForm(name)) {
    if (isOwnFullPath(*shorter)) return std::move(*shorter);
    return name;
  }
  return systemPathForm(name, /*preferVerbatim=*/false);
}

Expected<bool, Error> isBatchFile(const std::u16string& applicationName) {
  if (beginsVerbatim(applicationName)) return hasBatchSuffix(applicationName);
  auto full = fullPathName(applicationName);
  if (!full) return unexpected(full.error());
  return hasBatchSuffix(*full);
}

}  // namespace qmt
