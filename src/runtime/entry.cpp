// Entry point of Quillmart-Setup.exe: prepares the process, runs the setup, exits 0.
#include <windows.h>

#include "runtime/process_support.h"
#include "setup/run_setup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  qmt::prepareProcess();
  qmt::runSetup();
  return 0;
}
