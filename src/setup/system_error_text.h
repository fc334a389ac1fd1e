#pragma once
// The text rules of formatSystemError, apart from the FormatMessageW call itself, so that every branch (including
// the ones the system never takes on a given machine) can be checked without it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qmt {

// Bit 0x10000000 of an error code marks an NT status; its text is NTDLL.DLL's.
inline constexpr std::uint32_t kNtFacilityBit = 0x10000000;
inline constexpr std::uint32_t kFormatMessageFlags = 0x1200;             // FROM_SYSTEM | IGNORE_INSERTS
inline constexpr std::uint32_t kFormatMessageFromModule = 0x0800;        // FROM_HMODULE
inline constexpr std::uint32_t kMessageBufferUnits = 2048;

// Which message to ask the system for: the number, and whether NTDLL.DLL's table is the source.
struct MessageRequest {
  std::int32_t messageNumber = 0;
  std::uint32_t flags = kFormatMessageFlags;
  bool fromNtdll = false;
};

// The request for `code`; `ntdllFound` tells whether NTDLL.DLL's module handle could be had.
MessageRequest messageRequestFor(std::int32_t code, bool ntdllFound);

// The description of `code` from what the lookup gave back: `message` holds the returned units, or is nullopt
// when FormatMessageW returned 0, in which case `lookupError` is GetLastError right after that call.
std::string composeSystemErrorText(std::int32_t code, const MessageRequest& request,
                                   std::optional<std::u16string_view> message, std::uint32_t lookupError);

}  // namespace qmt
