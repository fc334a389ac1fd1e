#pragma once
// Starting a program as a new process with one CreateProcessW call.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "runtime/error.h"
#include "runtime/expected.h"
#include "runtime/handle.h"

namespace qmt {

struct ProcessSpec {
  std::u16string program;                             // path of the program; also the command line's first token
  std::vector<std::u16string> arguments;              // in the order the new process is to receive them
  std::optional<std::u16string> workingDirectory;     // absent: the caller's current directory
};

// The handles of a started process and its primary thread; the owner closes both.
struct StartedProcess {
  UniqueHandle processHandle;
  UniqueHandle threadHandle;
};

// Starts `request.program` with its arguments and working directory, the caller's environment and inheritable
// duplicates of the caller's usable standard handles (STARTF_USESTDHANDLES when it has at least one; otherwise
// Windows' defaults). Does not wait for the process. A batch file is refused with ERROR_BAD_EXE_FORMAT: its
// arguments would be interpreted by the command interpreter, whose quoting rules differ from the ones written here.
// Fails with ErrorKind::NoFileName, NulInPath or NulInData for unusable input (before any handle is made), or
// with the system error of GetFullPathNameW, DuplicateHandle or CreateProcessW. After a failure no process
// exists and nothing made here is left open.
Expected<StartedProcess, Error> startProcess(const ProcessSpec& request);

// The two system calls of startProcess that tests replace to observe what is handed to Windows.
struct ProcessCreationCalls {
  decltype(&::DuplicateHandle) duplicateHandle = &::DuplicateHandle;
  decltype(&::CreateProcessW) createProcess = &::CreateProcessW;
};

// startProcess with the given calls in place of DuplicateHandle and CreateProcessW.
Expected<StartedProcess, Error> startProcessWith(const ProcessSpec& request, const ProcessCreationCalls& calls);

}  // namespace qmt
