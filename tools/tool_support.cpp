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

std::string trailerHex(const Bytes& stream) {
  if (stream.size() < 4) return "-";
  return hexBytes(stream.data() + stream.size() - 4, 4);
}

}  // namespace qmt::tools
