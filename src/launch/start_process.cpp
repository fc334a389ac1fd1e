#include "launch/start_process.h"

#include <array>

#include "launch/application_name.h"
#include "launch/command_line.h"
#include "launch/process_creation_lock.h"
#include "launch/std_handles.h"
#include "launch/working_directory.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

static_assert(sizeof(STARTUPINFOW) == 104, "the start-up information the system expects on x64");

constexpr DWORD kBadExeFormat = ERROR_BAD_EXE_FORMAT;

// Inheritable duplicates of standard input, output and error, in that order; empty where the caller has none.
using StdHandles = std::array<UniqueHandle, 3>;

Expected<StdHandles, Error> duplicateStdHandles(DuplicateHandleCall duplicate) {
  StdHandles handles;
  const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (std::size_t i = 0; i < handles.size(); ++i) {
    auto handle = inheritableStdHandle(which[i], duplicate);
    if (!handle) return unexpected(handle.error());  // the duplicates made so far close with `handles`
    handles[i] = std::move(*handle);
  }
  return handles;
}

STARTUPINFOW startupInfoFor(const StdHandles& handles) {
  STARTUPINFOW info{};
  info.cb = sizeof(info);
  if (handles[0] || handles[1] || handles[2]) {
    info.dwFlags = STARTF_USESTDHANDLES;
    info.hStdInput = handles[0].get();
    info.hStdOutput = handles[1].get();
    info.hStdError = handles[2].get();
  }
  return info;
}

// Steps that need processCreationLock: duplicating the standard handles, creating the process and closing the
// duplicates again, all while the lock is held.
Expected<StartedProcess, Error> createLocked(const std::u16string& applicationName, std::u16string& commandLine,
                                             const std::optional<std::u16string>& workingDirectory,
                                             const ProcessCreationCalls& calls) {
  const ProcessCreationGuard guard;
  auto handles = duplicateStdHandles(calls.duplicateHandle);
  if (!handles) return unexpected(handles.error());
  STARTUPINFOW startup = startupInfoFor(*handles);
  PROCESS_INFORMATION created{};
  const BOOL ok = calls.createProcess(wide(applicationName), wide(commandLine.data()), nullptr, nullptr, TRUE,
                                      CREATE_UNICODE_ENVIRONMENT, nullptr,
                                      workingDirectory ? wide(*workingDirectory) : nullptr, &startup, &created);
  const DWORD error = ok ? 0 : GetLastError();
  for (UniqueHandle& handle : *handles) handle.reset();
  if (!ok) return unexpected(Error::system(error));
  return StartedProcess{UniqueHandle(created.hProcess), UniqueHandle(created.hThread)};
}

}  // namespace

Expected<StartedProcess, Error> startProcessWith(const ProcessSpec& request, const ProcessCreationCalls& calls) {
  auto applicationName = applicationNameFor(request.program);
  if (!applicationName) return unexpected(applicationName.error());
  auto batch = isBatchFile(*applicationName);
  if (!batch) return unexpected(batch.error());
  if (*batch) return unexpected(Error::system(kBadExeFormat));
  auto commandLine = buildCommandLine(request.program, request.arguments);
  if (!commandLine) return unexpected(commandLine.error());
  auto workingDirectory = workingDirectoryString(request.workingDirectory);
  if (!workingDirectory) return unexpected(workingDirectory.error());
  return createLocked(*applicationName, *commandLine, *workingDirectory, calls);
}

Expected<StartedProcess, Error> startProcess(const ProcessSpec& request) { return startProcessWith(request, {}); }

}  // namespace qmt
