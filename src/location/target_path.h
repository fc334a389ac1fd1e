#pragma once
// The choice of the target folder from the environment: %QMT_DATA%\programme when QMT_DATA is defined, otherwise
// %LOCALAPPDATA%\Programs\Quillmart.

#include <optional>
#include <string>
#include <string_view>

#include "runtime/expected.h"
#include "setup/failure.h"

namespace qmt {

// Looks environment variables up by name.
class VariableSource {
 public:
  // The value of the variable `name` exactly as the system holds it (empty when defined but empty), or nullopt
  // when it is not defined.
  virtual std::optional<std::u16string> lookup(std::string_view name) = 0;

 protected:
  ~VariableSource() = default;
};

// The target folder path. QMT_DATA is looked up first; LOCALAPPDATA only when QMT_DATA is not defined (an empty
// QMT_DATA counts as defined and gives the relative path "programme"). When neither is defined, the failure is
// the complete message about LOCALAPPDATA.
Expected<std::u16string, SetupFailure> chooseTargetFolder(VariableSource& environment);

}  // namespace qmt
