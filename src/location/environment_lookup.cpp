#include "location/environment_lookup.h"

#include "runtime/error.h"
#include "runtime/text.h"

namespace qmt {

std::uint32_t doubledBufferSize(std::uint32_t size) {
  constexpr std::uint32_t kLargest = 0xFFFFFFFFu;
  return size > kLargest / 2 ? kLargest : size * 2;
}

std::optional<std::u16string> readEnvironmentValue(std::string_view name, EnvironmentCall& call) {
  const std::u16string wideName = asciiToUtf16(name);
  std::uint32_t size = kFirstEnvironmentBuffer;
  std::u16string buffer(size, u'\0');
  for (;;) {
    const EnvironmentAnswer answer = call.get(wideName.c_str(), buffer.data(), size);
    if (answer.count == 0) {
      if (answer.lastError != 0) return std::nullopt;
      return std::u16string();
    }
    if (answer.count == size && answer.lastError == win_error::kInsufficientBuffer) {
      size = doubledBufferSize(size);
    } else if (answer.count > size) {
      // The system names the size it needs, its terminating NUL included.
      size = answer.count;
    } else {
      buffer.resize(answer.count);
      return buffer;
    }
    buffer.resize(size);
  }
}

}  // namespace qmt
