#include <sys/mman.h>

#include "runtime/address_space.h"

namespace qmt {

void* reserveAddressSpace(std::size_t size) {
  // No access and no swap reserved: the range costs nothing until a part of it is committed.
  void* base = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return base == MAP_FAILED ? nullptr : base;
}

bool commitAddressSpace(void* base, std::size_t size) {
  return size == 0 || mprotect(base, size, PROT_READ | PROT_WRITE) == 0;
}

void releaseAddressSpace(void* base, std::size_t size) { munmap(base, size); }

}  // namespace qmt
