#pragma once
// Test helpers: zlib streams made with zlib's own compressor, with chosen settings, and a bit writer for deflate
// data that no compressor would produce.

#include <zlib.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace qmt::testing {

using Bytes = std::vector<std::uint8_t>;

struct DeflateSettings {
  int level = Z_BEST_COMPRESSION;
  int windowBits = MAX_WBITS;  // 8..15 zlib wrapper, 24..31 gzip wrapper
  int strategy = Z_DEFAULT_STRATEGY;
  std::string_view dictionary = {};
};

inline Bytes compressed(const Bytes& input, const DeflateSettings& settings = {}) {
  z_stream z{};
  if (deflateInit2(&z, settings.level, Z_DEFLATED, settings.windowBits, 8, settings.strategy) != Z_OK)
    throw std::runtime_error("deflateInit2");
  if (!settings.dictionary.empty())
    deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(settings.dictionary.data()),
                         static_cast<uInt>(settings.dictionary.size()));
  Bytes out(deflateBound(&z, static_cast<uLong>(input.size())) + 32);
  z.next_in = const_cast<Bytef*>(input.data());
  z.avail_in = static_cast<uInt>(input.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

inline Bytes textBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline Bytes randomBytes(std::size_t n, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
  return bytes;
}

// Mildly compressible bytes, like program code: words from a small vocabulary with random numbers between.
inline Bytes programLikeBytes(std::size_t n, unsigned seed) {
  static constexpr std::string_view kWords[] = {"mov ", "call ", "ret\n", "push rbp\n", "lea ", "rax, ", "[rsp+"};
  std::mt19937 generator(seed);
  Bytes bytes;
  while (bytes.size() < n) {
    const auto word = kWords[generator() % std::size(kWords)];
    bytes.insert(bytes.end(), word.begin(), word.end());
    bytes.push_back(static_cast<std::uint8_t>(generator()));
  }
  bytes.resize(n);
  return bytes;
}

inline std::uint32_t adlerOf(const Bytes& bytes) {
  return static_cast<std::uint32_t>(adler32(adler32(0, nullptr, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

// Deflate data bit by bit: header fields least significant bit first, Huffman codes most significant bit first.
class BitWriter {
 public:
  void bits(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) put((value >> i) & 1u);
  }
  void code(std::uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) put((code >> i) & 1u);
  }
  Bytes finish() { return bytes_; }

 private:
  void put(std::uint32_t bit) {
    if (used_ == 0) bytes_.push_back(0);
    bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | bit << used_);
    used_ = (used_ + 1) % 8;
  }
  Bytes bytes_;
  int used_ = 0;
};

// A zlib stream around raw deflate data: header 78 DA, the data, and the given trailer.
inline Bytes zlibWrapped(const Bytes& deflateData, std::uint32_t adler) {
  Bytes stream;
  stream.reserve(deflateData.size() + 6);
  stream.push_back(0x78);
  stream.push_back(0xDA);
  for (std::uint8_t byte : deflateData) stream.push_back(byte);
  for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(static_cast<std::uint8_t>(adler >> shift));
  return stream;
}

}  // namespace qmt::testing
