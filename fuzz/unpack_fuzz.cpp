// Fuzzes unpack with arbitrary bytes. Besides the sanitizers' own checks (memory errors, leaks of the buffer or the
// inflater on any path), every outcome is compared with an independent inflation by zlib: a stream unpack accepts
// must give exactly zlib's bytes, and a stream zlib inflates completely must not be refused.

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "payload/unpack.h"

namespace {

// zlib alone, output grown freely; true when the stream ends with a verified trailer.
bool inflateIndependently(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) std::abort();
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  out.assign(4096, 0);
  std::size_t produced = 0;
  int result = Z_OK;
  while (result == Z_OK) {
    if (produced == out.size()) out.resize(out.size() * 2);
    z.next_out = out.data() + produced;
    z.avail_out = static_cast<uInt>(out.size() - produced);
    const uInt space = z.avail_out;
    result = inflate(&z, Z_NO_FLUSH);
    produced += space - z.avail_out;
  }
  inflateEnd(&z);
  out.resize(produced);
  return result == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qmt::UnpackStats stats;
  const auto unpacked = qmt::unpack({data, size}, &stats);
  std::vector<std::uint8_t> expected;
  const bool complete = inflateIndependently(data, size, expected);
  if (unpacked.has_value() != complete) std::abort();
  if (unpacked.has_value()) {
    if (unpacked->size() != expected.size()) std::abort();
    if (!expected.empty() && std::memcmp(unpacked->data(), expected.data(), expected.size()) != 0) std::abort();
    // The buffer is twice the input, doubled `growths` times; each doubling happened on a full buffer, so the
    // output fills at least the buffer before the last doubling.
    if (stats.bufferLength != (2 * size) << stats.growths) std::abort();
    if (stats.growths > 0 && expected.size() < stats.bufferLength / 2) std::abort();
  } else if (unpacked.error().text != qmt::message::kDamaged) {
    std::abort();
  }
  return 0;
}
