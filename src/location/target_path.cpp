#include "location/target_path.h"

#include "location/path_rules.h"

namespace qmt {

Expected<std::u16string, SetupFailure> chooseTargetFolder(VariableSource& environment) {
  if (std::optional<std::u16string> data = environment.lookup("QMT_DATA")) return joinPath(*data, u"programme");
  if (std::optional<std::u16string> local = environment.lookup("LOCALAPPDATA")) {
    return joinPath(joinPath(*local, u"Programs"), u"Quillmart");
  }
  return unexpected(completeFailure(message::kNoLocalAppData));
}

}  // namespace qmt
