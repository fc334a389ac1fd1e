#include "launch/launch_application.h"

#include <windows.h>

#include <vector>

#include "launch/command_line.h"
#include "launch/start_process.h"
#include "runtime/wide.h"

namespace qmt {

Expected<void, SetupFailure> launchApplicationFrom(const char16_t* setupCommandLine, std::u16string_view targetFolder,
                                                   std::u16string_view executablePath) {
  std::vector<std::u16string> elements = splitCommandLine(setupCommandLine);
  ProcessSpec request;
  request.program = std::u16string(executablePath);
  // The first element is the setup's own program name; every further one is forwarded as it is.
  request.arguments.assign(std::make_move_iterator(elements.begin() + 1), std::make_move_iterator(elements.end()));
  request.workingDirectory = std::u16string(targetFolder);

  Expected<StartedProcess, Error> started = startProcess(request);
  if (!started) return unexpected(prefixedFailure(message::kNotStarted, started.error()));
  // The setup does not wait for the application or watch it: both handles are closed at once.
  started->processHandle.reset();
  started->threadHandle.reset();
  return {};
}

Expected<void, SetupFailure> launchApplication(std::u16string_view targetFolder, std::u16string_view executablePath) {
  return launchApplicationFrom(reinterpret_cast<const char16_t*>(GetCommandLineW()), targetFolder, executablePath);
}

}  // namespace qmt
