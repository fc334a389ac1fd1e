#pragma once
// The process environment, read through GetEnvironmentVariableW.

#include <optional>
#include <string>
#include <string_view>

#include "location/target_path.h"

namespace qmt {

// The value of the environment variable `name` (ASCII) exactly as the system holds it; empty when defined but
// empty; nullopt when not defined.
std::optional<std::u16string> lookupEnvironmentVariable(std::string_view name);

// The process environment as a VariableSource.
class SystemEnvironment final : public VariableSource {
 public:
  std::optional<std::u16string> lookup(std::string_view name) override { return lookupEnvironmentVariable(name); }
};

}  // namespace qmt
