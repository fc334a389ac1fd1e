#include "location/prepare_target_folder.h"

#include "location/system_environment.h"
#include "location/system_folders.h"

namespace qmt {

Expected<std::u16string, SetupFailure> prepareTargetFolder() {
  SystemEnvironment environment;
  SystemFolderOperations operations;
  return prepareTargetFolderWith(environment, operations);
}

Expected<std::u16string, SetupFailure> prepareTargetFolderWith(VariableSource& environment,
                                                               FolderOperations& operations) {
  Expected<std::u16string, SetupFailure> target = chooseTargetFolder(environment);
  if (!target) return target;
  Expected<void, Error> created = createFolderTree(*target, operations);
  if (!created) return unexpected(prefixedFailure(message::kFolderNotCreated, created.error()));
  return target;
}

}  // namespace qmt
