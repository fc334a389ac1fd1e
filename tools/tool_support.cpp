#include "tool_support.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace qmt::tools {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::uint32_t kSha256Rounds[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t rotateRight(std::uint32_t x, int n) { return x >> n | x << (32 - n); }

// One 64-byte block into the running state (FIPS 180-4, section 6.2.2).
void sha256Block(std::uint32_t state[8], const std::uint8_t* block) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i)
    w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
           std::uint32_t{block[4 * i + 2]} << 8 | block[4 * i + 3];
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 = rotateRight(w[i - 15], 7) ^ rotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = rotateRight(w[i - 2], 17) ^ rotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::uint32_t v[8];
  std::copy(state, state + 8, v);
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t s1 = rotateRight(v[4], 6) ^ rotateRight(v[4], 11) ^ rotateRight(v[4], 25);
    const std::uint32_t t1 = v[7] + s1 + ((v[4] & v[5]) ^ (~v[4] & v[6])) + kSha256Rounds[i] + w[i];
    const std::uint32_t s0 = rotateRight(v[0], 2) ^ rotateRight(v[0], 13) ^ rotateRight(v[0], 22);
    const std::uint32_t t2 = s0 + ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
    std::copy_backward(v, v + 7, v + 8);
    v[4] += t1;
    v[0] = t1 + t2;
  }
  for (int i = 0; i < 8; ++i) state[i] += v[i];
}

}  // namespace

std::optional<Bytes> readFile(const std::string& path, std::string& why) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  Bytes bytes;
  std::uint8_t chunk[65536];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (got < sizeof chunk) break;
  }
  if (std::ferror(file.get())) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  return bytes;
}

bool writeFile(const std::string& path, const Bytes& bytes, std::string& why) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    why = std::strerror(errno);
    return false;
  }
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    why = std::strerror(errno);
    return false;
  }
  if (std::fclose(file.release()) != 0) {
    why = std::strerror(errno);
    return false;
  }
  return true;
}

bool writeText(const std::string& path, const std::string& text, std::string& why) {
  return writeFile(path, Bytes(text.begin(), text.end()), why);
}

std::optional<Bytes> inflateExactly(const Bytes& stream) {
  z_stream z{};
  if (inflateInit2(&z, MAX_WBITS) != Z_OK) return std::nullopt;
  Bytes out(stream.size() * 4 + 64);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  int result = Z_OK;
  std::size_t produced = 0;
  for (;;) {
    if (produced == out.size()) out.resize(out.size() * 2);
    z.next_out = out.data() + produced;
    z.avail_out = static_cast<uInt>(out.size() - produced);
    const uInt spaceBefore = z.avail_out;
    const uInt inputBefore = z.avail_in;
    result = inflate(&z, Z_NO_FLUSH);
    produced += spaceBefore - z.avail_out;
    if (result != Z_OK) break;  // the end, or a fault
    if (z.avail_in == inputBefore && z.avail_out == spaceBefore) break;  // no progress: input ended early
  }
  const bool complete = result == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  if (!complete) return std::nullopt;
  out.resize(produced);
  return out;
}

std::uint32_t adler32Of(const Bytes& bytes) {
  uLong adler = adler32(0L, Z_NULL, 0);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t part = std::min<std::size_t>(bytes.size() - done, 1u << 30);
    adler = adler32(adler, bytes.data() + done, static_cast<uInt>(part));
    done += part;
  }
  return static_cast<std::uint32_t>(adler);
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  char pair[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    if (i != 0) text += ' ';
    text += pair;
  }
  return text;
}

std::string sha256Hex(const Bytes& bytes) {
  std::uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const std::size_t whole = bytes.size() / 64 * 64;
  for (std::size_t at = 0; at < whole; at += 64) sha256Block(state, bytes.data() + at);
  // The tail, the 0x80 marker and the bit length, padded to one or two final blocks.
  std::uint8_t tail[128] = {};
  const std::size_t rest = bytes.size() - whole;
  std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(whole), bytes.end(), tail);
  tail[rest] = 0x80;
  const std::size_t tailSize = rest < 56 ? 64 : 128;
  const std::uint64_t bits = std::uint64_t{bytes.size()} * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
  for (std::size_t at = 0; at < tailSize; at += 64) sha256Block(state, tail + at);
  std::string text;
  char word[9];
  for (std::uint32_t value : state) {
    std::snprintf(word, sizeof word, "%08x", value);
    text += word;
  }
  return text;
}

std::string trailerHex(const Bytes& stream) {
  if (stream.size() < 4) return "-";
  return hexBytes(stream.data() + stream.size() - 4, 4);
}

}  // namespace qmt::tools
