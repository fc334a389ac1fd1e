#pragma once
// The first step of the setup: the target folder, chosen from the environment and created with its parents.

#include <string>

#include "location/folder_tree.h"
#include "location/target_path.h"
#include "runtime/expected.h"
#include "setup/failure.h"

namespace qmt {

// The target folder path (%QMT_DATA%\programme, or %LOCALAPPDATA%\Programs\Quillmart), which exists as a
// directory on success. Fails with the complete message about LOCALAPPDATA when neither variable is defined, and
// with the folder prefix followed by the creation error's description when a folder cannot be created.
Expected<std::u16string, SetupFailure> prepareTargetFolder();

// The same with the environment and the folder operations supplied by the caller.
Expected<std::u16string, SetupFailure> prepareTargetFolderWith(VariableSource& environment,
                                                               FolderOperations& operations);

}  // namespace qmt
