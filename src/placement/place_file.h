#pragma once
// Placement of one unpacked payload file in the target folder.

#include <cstdint>
#include <span>
#include <string_view>

#include "runtime/expected.h"
#include "setup/failure.h"

namespace qmt {

// Puts `content` at `targetPath` through the file access layer (see placeFileWith for the steps). Fails with
// "Quillmart konnte nicht entpackt werden: ", "Die alte Version ließ sich nicht austauschen: " or "Quillmart
// konnte nicht abgelegt werden: " followed by the error's description; shows nothing.
Expected<void, SetupFailure> placeFile(std::u16string_view targetPath, std::span<const std::uint8_t> content);

}  // namespace qmt
