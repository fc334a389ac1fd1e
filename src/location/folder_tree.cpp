#include "location/folder_tree.h"

#include <optional>

#include "location/path_rules.h"

namespace qmt {
namespace {

// An error of a creation attempt is harmless when the path exists as a directory after all: created by this run
// in the walk, or by another process at the same time.
bool existsAsDirectory(const Error& error, std::u16string_view path, FolderOperations& operations) {
  if (!meansAlreadyExists(error)) return false;
  const Expected<bool, Error> directory = operations.queryDirectory(path);
  return directory && *directory;
}

// A target without a parent is never handed to the creation, so nothing else would notice that it is missing (an
// unreachable share root): it has to exist as a directory, and the query's own error says why it does not.
Expected<void, Error> requireDirectory(std::u16string_view target, FolderOperations& operations) {
  const Expected<bool, Error> directory = operations.queryDirectory(target);
  if (!directory) return unexpected(directory.error());
  if (!*directory) return unexpected(Error::system(win_error::kAlreadyExists));
  return {};
}

// The outward walk: the number of paths, starting with the target, that were found missing.
Expected<std::size_t, Error> countMissing(std::u16string_view target, FolderOperations& operations) {
  std::size_t missing = 0;
  std::u16string_view current = target;
  while (!current.empty()) {
    const std::optional<std::u16string_view> parent = parentPath(current);
    if (!parent) {  // a root or a bare drive is never created
      if (missing > 0) break;
      Expected<void, Error> present = requireDirectory(target, operations);
      if (!present) return unexpected(present.error());
      break;
    }
    Expected<void, Error> created = operations.createDirectory(current);
    if (created) break;
    if (meansNotFound(created.error())) {
      ++missing;
      current = *parent;
      continue;
    }
    if (existsAsDirectory(created.error(), current, operations)) break;
    return unexpected(created.error());
  }
  return missing;
}

}  // namespace

bool meansNotFound(const Error& error) {
  using namespace win_error;
  if (error.kind != ErrorKind::System) return false;
  switch (error.code) {
    case kFileNotFound:
    case kPathNotFound:
    case kInvalidDrive:
    case kBadNetPath:
    case kBadNetName: return true;
    default: return false;
  }
}

bool meansAlreadyExists(const Error& error) {
  return error.isSystem(win_error::kFileExists) || error.isSystem(win_error::kAlreadyExists);
}

std::vector<std::u16string_view> missingAncestors(std::u16string_view target, std::size_t count) {
  std::vector<std::u16string_view> paths;
  paths.reserve(count);
  std::u16string_view current = target;
  for (std::size_t i = 0; i < count; ++i) {
    paths.push_back(current);
    const std::optional<std::u16string_view> parent = parentPath(current);
    if (!parent) break;
    current = *parent;
  }
  return paths;
}

Expected<void, Error> createFolderTree(std::u16string_view target, FolderOperations& operations) {
  Expected<std::size_t, Error> missing = countMissing(target, operations);
  if (!missing) return unexpected(missing.error());
  const std::vector<std::u16string_view> paths = missingAncestors(target, *missing);
  for (auto path = paths.rbegin(); path != paths.rend(); ++path) {
    Expected<void, Error> created = operations.createDirectory(*path);
    if (!created && !existsAsDirectory(created.error(), *path, operations)) return unexpected(created.error());
  }
  return {};
}

}  // namespace qmt
