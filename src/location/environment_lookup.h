#pragma once
// Reading one environment variable with the system's size protocol: a first buffer of 512 UTF-16 units, grown to
// the size the system asks for, or doubled when the system reports only that the buffer was too small. The call
// itself is injected so that every answer of the system can be produced.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qmt {

// What one GetEnvironmentVariableW call returned, and the thread's last error right after it (cleared to 0
// before the call).
struct EnvironmentAnswer {
  std::uint32_t count = 0;
  std::uint32_t lastError = 0;
};

class EnvironmentCall {
 public:
  // Calls GetEnvironmentVariableW(name, buffer, size) with the last error cleared first. `name` is NUL-terminated;
  // `buffer` holds `size` units.
  virtual EnvironmentAnswer get(const char16_t* name, char16_t* buffer, std::uint32_t size) = 0;

 protected:
  ~EnvironmentCall() = default;
};

inline constexpr std::uint32_t kFirstEnvironmentBuffer = 512;

// The buffer size after the system reported ERROR_INSUFFICIENT_BUFFER for `size`: doubled, at most 0xFFFFFFFF.
std::uint32_t doubledBufferSize(std::uint32_t size);

// The value of the variable `name` (ASCII), unit for unit as the system returns it; an empty value when it is
// defined but empty; nullopt when the call reports 0 units with any last error (not defined).
std::optional<std::u16string> readEnvironmentValue(std::string_view name, EnvironmentCall& call);

}  // namespace qmt
