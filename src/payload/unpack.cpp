#include "payload/unpack.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <limits>

#include "runtime/fatal.h"

namespace qmt {
namespace {

// zlib's allocations go through these so that exhausted memory ends the process like every other allocation,
// instead of surfacing as Z_MEM_ERROR and being mistaken for a damaged file.
voidpf allocateForZlib(voidpf, uInt items, uInt size) {
  const std::size_t bytes = static_cast<std::size_t>(items) * size;
  void* memory = std::malloc(bytes);
  if (memory == nullptr) allocationFailed(bytes);
  return memory;
}

void freeForZlib(voidpf, voidpf address) { std::free(address); }

// zlib counts in uInt; a pass is offered at most that much input and output.
constexpr std::size_t kMaxPass = std::numeric_limits<uInt>::max();

// Owns the inflater so that it is released on every path out of unpack.
class Inflater {
 public:
  Inflater() {
    stream_.zalloc = allocateForZlib;
    stream_.zfree = freeForZlib;
    stream_.opaque = Z_NULL;
    stream_.next_in = Z_NULL;
    stream_.avail_in = 0;
    // 15: zlib wrapper (header check, Adler-32 verification), any window up to 32 KiB; the header's CINFO above 7
    // is rejected by inflate itself.
    const int result = inflateInit2(&stream_, MAX_WBITS);
    if (result == Z_MEM_ERROR) allocationFailed(sizeof(z_stream));
    if (result != Z_OK) internalFault("inflateInit2 failed");
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() { inflateEnd(&stream_); }

  z_stream* operator->() { return &stream_; }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
};

std::size_t doubled(std::size_t length) {
  if (length > std::numeric_limits<std::size_t>::max() / 2) allocationFailed(std::numeric_limits<std::size_t>::max());
  return length * 2;
}

}  // namespace

Expected<ByteBuffer, SetupFailure> unpack(std::span<const std::uint8_t> compressed, UnpackStats* stats) {
  UnpackStats local;
  UnpackStats& counts = stats != nullptr ? *stats : local;
  counts = UnpackStats{};

  // In reserved space, so that each doubling stays in place; its zero bytes come from fresh pages rather than a
  // fill, and pages that inflate never reaches are never touched.
  ByteBuffer output = ByteBuffer::zeroedInReservedSpace(doubled(compressed.size()));
  std::size_t produced = 0;
  std::size_t consumed = 0;
  Inflater inflater;

  for (;;) {
    const std::size_t inputOffered = std::min(compressed.size() - consumed, kMaxPass);
    const std::size_t outputOffered = std::min(output.size() - produced, kMaxPass);
    // zlib's interface is not const-correct; it never writes through next_in.
    inflater->next_in = const_cast<Bytef*>(compressed.data() + consumed);
    inflater->avail_in = static_cast<uInt>(inputOffered);
    inflater->next_out = output.data() + produced;
    inflater->avail_out = static_cast<uInt>(outputOffered);

    // Z_FINISH: the whole stream is present; when it completes in this pass zlib keeps no sliding window.
    const int result = inflate(inflater.get(), Z_FINISH);
    const std::size_t inputUsed = inputOffered - inflater->avail_in;
    const std::size_t outputMade = outputOffered - inflater->avail_out;
    consumed += inputUsed;
    produced += outputMade;
    counts.bufferLength = output.size();

    if (result == Z_STREAM_END) {
      output.truncate(produced);
      return output;
    }
    if (result != Z_OK && result != Z_BUF_ERROR) break;  // data error, dictionary wanted, rejected header
    // A valid stream ends with its trailer, which is read only after the last output byte: input used up without
    // reaching the end is truncation. Checked before "full", so that an empty input (a buffer of length 0, which
    // doubling cannot enlarge) fails instead of looping.
    if (consumed == compressed.size()) break;
    if (produced == output.size()) {
      const std::uint8_t* before = output.data();
      output.resizeZeroed(doubled(output.size()));
      ++counts.growths;
      if (output.data() != before) ++counts.moves;
      continue;
    }
    // A pass capped below the remaining input or space: go on while it makes progress.
    if (inputUsed == 0 && outputMade == 0) break;
  }
  return unexpected(completeFailure(message::kDamaged));
}

}  // namespace qmt
