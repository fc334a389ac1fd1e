#pragma once

namespace qmt {

// Start-up work that must come before anything else the process does: DLLs are loaded from the system folder only
// (so a DLL planted next to a downloaded setup is never loaded), the main thread keeps enough stack to report its
// own overflow, and internal faults (a C++ throw among them) end the process with status 101.
void prepareProcess();

}  // namespace qmt
