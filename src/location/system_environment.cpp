#include "location/system_environment.h"

#include <windows.h>

#include "location/environment_lookup.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

class SystemEnvironmentCall final : public EnvironmentCall {
 public:
  EnvironmentAnswer get(const char16_t* name, char16_t* buffer, std::uint32_t size) override {
    // A result of 0 is told apart (empty value or no variable) only by the last error, so it must not be stale.
    SetLastError(0);
    const DWORD count = GetEnvironmentVariableW(wide(name), wide(buffer), size);
    return {count, GetLastError()};
  }
};

}  // namespace

std::optional<std::u16string> lookupEnvironmentVariable(std::string_view name) {
  SystemEnvironmentCall call;
  return readEnvironmentValue(name, call);
}

}  // namespace qmt
