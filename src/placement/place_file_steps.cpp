#include "placement/place_file_steps.h"

#include "placement/version_names.h"

namespace qmt {
namespace {

// Whether the file at the target already holds exactly `content`; a file that cannot be read counts as different.
bool holdsContent(const PlacementOperations& operations, std::u16string_view targetPath,
                  std::span<const std::uint8_t> content) {
  auto same = operations.holdsExactly(targetPath, content);
  return same && *same;
}

Expected<void, PlacementError> failure(PlacementStep step, Error error) {
  return unexpected(PlacementError{step, error});
}

}  // namespace

Expected<void, PlacementError> placeFileWith(const PlacementOperations& operations, std::u16string_view targetPath,
                                             std::span<const std::uint8_t> content) {
  if (holdsContent(operations, targetPath, content)) return {};

  const std::u16string newName = newVersionName(targetPath);
  if (auto written = operations.writeWholeFile(newName, content); !written) {
    return failure(PlacementStep::WriteNewVersion, written.error());
  }

  if (operations.isPresent(targetPath)) {
    if (operations.renameFile(newName, targetPath)) return {};
    // The old file cannot be replaced (a running program, a loaded library): move it aside, over any leftover.
    const std::u16string oldName = oldVersionName(targetPath);
    (void)operations.removeFile(oldName);
    if (auto aside = operations.renameFile(targetPath, oldName); !aside) {
      return failure(PlacementStep::MoveOldAside, aside.error());
    }
  }

  if (auto placed = operations.renameFile(newName, targetPath); !placed) {
    (void)operations.removeFile(newName);
    return failure(PlacementStep::MoveNewIntoPlace, placed.error());
  }
  return {};
}

}  // namespace qmt
