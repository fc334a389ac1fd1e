#include "placement/buffer_growth.h"

#include <algorithm>

namespace qmt {

Expected<std::u16string, Error> fillWithGrowth(const FillCall& call) {
  std::uint32_t capacity = kFirstFillCapacity;
  std::u16string buffer;
  for (;;) {
    buffer.resize(capacity);
    FillReport report = call(buffer.data(), capacity);
    if (report.result == 0) {
      if (report.lastError != 0) return unexpected(Error::system(report.lastError));
      return std::u16string();
    }
    if (report.result > capacity) {
      capacity = report.result;
    } else if (report.result == capacity && report.lastError == win_error::kInsufficientBuffer) {
      capacity = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{capacity} * 2, 0xFFFFFFFFu));
    } else {
      buffer.resize(report.result);
      return buffer;
    }
  }
}

}  // namespace qmt
