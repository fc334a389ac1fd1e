#include "placement/place_file.h"

#include "placement/file_access.h"
#include "placement/place_file_steps.h"

namespace qmt {
namespace {

std::string_view prefixOf(PlacementStep step) {
  switch (step) {
    case PlacementStep::WriteNewVersion: return message::kNotUnpacked;
    case PlacementStep::MoveOldAside: return message::kNotSwapped;
    case PlacementStep::MoveNewIntoPlace: return message::kNotPlaced;
  }
  return message::kNotPlaced;
}

const PlacementOperations& fileAccessOperations() {
  static const PlacementOperations operations{
      [](std::u16string_view path, std::span<const std::uint8_t> content) { return holdsExactly(path, content); },
      [](std::u16string_view path, std::span<const std::uint8_t> content) { return writeWholeFile(path, content); },
      [](std::u16string_view path) { return isPresent(path); },
      [](std::u16string_view from, std::u16string_view to) { return renameFile(from, to); },
      [](std::u16string_view path) { return removeFile(path); },
  };
  return operations;
}

}  // namespace

Expected<void, SetupFailure> placeFile(std::u16string_view targetPath, std::span<const std::uint8_t> content) {
  auto placed = placeFileWith(fileAccessOperations(), targetPath, content);
  if (!placed) return unexpected(prefixedFailure(prefixOf(placed.error().step), placed.error().error));
  return {};
}

}  // namespace qmt
