#include "launch/process_creation_lock.h"

namespace qmt {

SRWLOCK processCreationLock = SRWLOCK_INIT;

}  // namespace qmt
