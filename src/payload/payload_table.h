#pragma once
// The files the setup carries: one complete zlib stream each, in the executable's read-only data, back to back in
// table order. The table is constant-initialised, so it is usable from the first instruction of the program.

#include <cstddef>
#include <cstdint>

namespace qmt {

struct PayloadEntry {
  const char* fileName;                // ASCII, no directory part: the name in the target folder
  const std::uint8_t* compressedData;  // owned by the executable image; read in place
  std::uint64_t compressedSize;        // the stream's exact length in bytes
};

inline constexpr std::size_t kPayloadEntryCount = 2;

// Entry 0 is WebView2Loader.dll, entry 1 is Quillmart.exe, always in this order.
extern const PayloadEntry payloadTable[kPayloadEntryCount];

}  // namespace qmt
