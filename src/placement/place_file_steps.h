#pragma once
// The placement procedure for one file, written against a set of file operations so that every situation of the
// version swap can be checked, natively with an in-memory file system and under Wine with injected failures.
// placeFile runs it with the real file access layer and turns its failure into the setup's message.

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "runtime/error.h"
#include "runtime/expected.h"

namespace qmt {

// The file operations placement uses, with the contracts of the file access layer.
struct PlacementOperations {
  std::function<Expected<bool, Error>(std::u16string_view path, std::span<const std::uint8_t> content)> holdsExactly;
  std::function<Expected<void, Error>(std::u16string_view path, std::span<const std::uint8_t> content)>
      writeWholeFile;
  std::function<bool(std::u16string_view path)> isPresent;
  std::function<Expected<void, Error>(std::u16string_view from, std::u16string_view to)> renameFile;
  std::function<Expected<void, Error>(std::u16string_view path)> removeFile;
};

// The three failures placement reports; every other failure is discarded.
enum class PlacementStep : std::uint8_t {
  WriteNewVersion,  // the new-version file could not be created or fully written
  MoveOldAside,     // the old file could not be renamed to its old-version name
  MoveNewIntoPlace, // the new-version file could not be renamed onto the target path
};

struct PlacementError {
  PlacementStep step;
  Error error;
};

// Puts `content` at `targetPath`: leaves a byte-identical file untouched; otherwise writes the new-version sibling,
// replaces the target with it, or first moves the old file to the old-version name when direct replacement fails.
// Nothing is retried or rolled back.
Expected<void, PlacementError> placeFileWith(const PlacementOperations& operations, std::u16string_view targetPath,
                                             std::span<const std::uint8_t> content);

}  // namespace qmt
