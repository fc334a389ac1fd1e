// Test program: starts the program named by its first argument through startProcess, with no arguments, and
// waits for it. Its exit code is the started program's, or 200 when startProcess failed. Used to see what a
// started process receives as standard handles when its starter has the standard handles that the test gave it.
#include <windows.h>

#include <string>

#include "launch/start_process.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 201;
  qmt::ProcessSpec request;
  request.program = reinterpret_cast<const char16_t*>(argv[1]);
  auto started = qmt::startProcess(request);
  if (!started) return 200;
  WaitForSingleObject(started->processHandle.get(), INFINITE);
  DWORD code = 202;
  GetExitCodeProcess(started->processHandle.get(), &code);
  return static_cast<int>(code);
}
