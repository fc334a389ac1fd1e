#include "placement/whole_read.h"

#include <algorithm>
#include <limits>

namespace qmt {
namespace {

constexpr std::size_t kReadLimitGranule = 8192;

class WholeRead {
 public:
  WholeRead(ByteBuffer buffer, std::size_t limit, bool limitLifts, const ReadTransfer& read)
      : buffer_(std::move(buffer)), initialCapacity_(buffer_.capacity()), limit_(limit), limitLifts_(limitLifts),
        read_(read) {}

  // A read of up to 32 bytes through a scratch buffer, appended (growing the buffer if it does not fit): the count
  // read, 0 at the end.
  Expected<std::size_t, Error> probe() {
    std::uint8_t scratch[kProbeSize];
    auto n = read_(scratch, kProbeSize);
    if (!n) return n;
    if (*n > buffer_.spareCapacity()) {
      buffer_.reserveExact(std::max({buffer_.capacity() * 2, buffer_.size() + *n, std::size_t{8}}));
    }
    buffer_.append(scratch, *n);
    return n;
  }

  Expected<ByteBuffer, Error> run(bool startWithProbe) {
    if (startWithProbe) {
      auto n = probe();
      if (!n) return unexpected(n.error());
      if (*n == 0) return std::move(buffer_);
    }
    for (;;) {
      // While the hinted buffer may still be exactly full, confirm the end with probes before growing it.
      while (buffer_.capacity() == initialCapacity_ && buffer_.spareCapacity() < kProbeSize) {
        auto n = probe();
        if (!n) return unexpected(n.error());
        if (*n == 0) return std::move(buffer_);
      }
      if (buffer_.spareCapacity() < kProbeSize) {
        buffer_.reserveExact(std::max(buffer_.capacity() * 2, buffer_.size() + kProbeSize));
      }
      auto n = read_(buffer_.spare(), std::min(buffer_.spareCapacity(), limit_));
      if (!n) return unexpected(n.error());
      if (*n == 0) return std::move(buffer_);
      buffer_.commit(*n);
      if (limitLifts_) limit_ = std::numeric_limits<std::size_t>::max();
    }
  }

 private:
  ByteBuffer buffer_;
  std::size_t initialCapacity_;
  std::size_t limit_;
  bool limitLifts_;
  const ReadTransfer& read_;
};

}  // namespace

Expected<ByteBuffer, Error> readAllWithHint(std::optional<std::uint64_t> sizeHint, const ReadTransfer& read) {
  if (!sizeHint) return WholeRead(ByteBuffer(), kReadLimitGranule, true, read).run(true);
  std::uint64_t size = *sizeHint;
  if (size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
      size > std::numeric_limits<std::size_t>::max()) {
    return unexpected(Error::of(ErrorKind::OutOfMemory));
  }
  auto buffer = ByteBuffer::tryWithCapacity(static_cast<std::size_t>(size));
  if (!buffer) return unexpected(Error::of(ErrorKind::OutOfMemory));
  std::uint64_t wanted = size + 1024;
  std::uint64_t limit = (wanted + kReadLimitGranule - 1) / kReadLimitGranule * kReadLimitGranule;
  return WholeRead(std::move(*buffer), static_cast<std::size_t>(limit), false, read).run(size == 0);
}

}  // namespace qmt
