#pragma once

#include <string_view>

#include "runtime/expected.h"
#include "setup/failure.h"

namespace qmt {

// Starts the installed application `executablePath` (the path it was placed under) with the setup's own
// command-line arguments after its program name, read at this moment, `targetFolder` as its working directory and
// the inherited environment and standard handles. Closes both handles of the new process without waiting for it.
// Failure: "Quillmart konnte nicht gestartet werden: " with the description of the error.
Expected<void, SetupFailure> launchApplication(std::u16string_view targetFolder, std::u16string_view executablePath);

// The same with the setup's command line given (a seam for tests; launchApplication passes GetCommandLineW()).
Expected<void, SetupFailure> launchApplicationFrom(const char16_t* setupCommandLine, std::u16string_view targetFolder,
                                                   std::u16string_view executablePath);

}  // namespace qmt
