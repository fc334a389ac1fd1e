// Entry point of Quillmart-Setup.exe: prepares the process, runs the setup, exits 0.
//
// The executable is linked without the C runtime's start-up code (cmake/QmtPayload.cmake): the setup reads its
// command line with GetCommandLineW, uses no stdio and no thread-local data, so none of what that code prepares is
// used, and leaving it out keeps about 11 KiB out of the setup. The C runtime DLL initialises itself when it is
// loaded, so malloc and the other functions the setup calls work as before.
#include <windows.h>

#include "runtime/process_support.h"
#include "setup/run_setup.h"

// Runs the constructors of static objects, once; the compiler calls it at the top of every main(), and so does
// this entry point, so that a static object with a constructor works here as it would anywhere else.
extern "C" void __main();

extern "C" [[noreturn]] void qmtEntry() {
  qmt::prepareProcess();
  __main();
  qmt::runSetup();
  ExitProcess(0);
}

// Exit-time handlers, which C++ registers for the destructors of static objects: the process ends through
// ExitProcess, which runs none, and whatever such an object holds goes with the process. Registering one is
// accepted and it is dropped.
extern "C" int atexit(void (*)()) { return 0; }

// The start-up code's fix-up of data that an image imports from DLLs (runtime pseudo-relocations). GNU ld 2.44 and
// later ask for it in every image, also when there is nothing to fix up, and the C runtime's version brings stdio
// along for its error report. The setup imports functions only (it is linked so that a reference to a DLL's data
// fails the link), so its list of fix-ups is empty, and this entry point never calls it: defined here, it keeps
// the C runtime's version out.
extern "C" void _pei386_runtime_relocator() {}
