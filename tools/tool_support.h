#pragma once
// Small helpers shared by the build-time payload programs (they run on the build machine, not in the setup).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qmt::tools {

using Bytes = std::vector<std::uint8_t>;

// The whole file, or nullopt with `why` set to the system's reason.
std::optional<Bytes> readFile(const std::string& path, std::string& why);
// Writes the file whole; false with `why` set on failure.
bool writeFile(const std::string& path, const Bytes& bytes, std::string& why);
bool writeText(const std::string& path, const std::string& text, std::string& why);

// Inflates one complete zlib stream with zlib. nullopt when zlib rejects it, when it ends early, or when it does
// not end exactly at the end of `stream` (trailing bytes count as a fault here: the table's length is exact).
std::optional<Bytes> inflateExactly(const Bytes& stream);

std::uint32_t adler32Of(const Bytes& bytes);
// "78 DA", "0F B8 92 74": bytes as upper-case hex pairs separated by blanks.
std::string hexBytes(const std::uint8_t* bytes, std::size_t count);
// The SHA-256 of `bytes` as 64 lower-case hex digits, as sha256sum prints it.
std::string sha256Hex(const Bytes& bytes);
// The last four bytes of a stream (its Adler-32 trailer, most significant byte first) as hex pairs.
std::string trailerHex(const Bytes& stream);

}  // namespace qmt::tools
