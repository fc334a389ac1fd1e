#include "setup/run_setup.h"

namespace qmt {

void runSetup() {}

}  // namespace qmt
