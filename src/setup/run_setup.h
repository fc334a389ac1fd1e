#pragma once

namespace qmt {

// The setup procedure: prepares the target folder, unpacks and places both payload files in table order, starts
// the installed application, or stops at the first failure and shows it in one message box. Called once by the
// entry point; the process exits with status 0 when it returns.
void runSetup();

}  // namespace qmt
