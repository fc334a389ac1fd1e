#include "placement/file_system_calls.h"

namespace qmt {

FileSystemCalls& fileSystemCalls() {
  static FileSystemCalls calls;
  return calls;
}

}  // namespace qmt
