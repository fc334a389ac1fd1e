#include <windows.h>

#include "runtime/address_space.h"

namespace qmt {

void* reserveAddressSpace(std::size_t size) { return VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS); }

bool commitAddressSpace(void* base, std::size_t size) {
  return size == 0 || VirtualAlloc(base, size, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

void releaseAddressSpace(void* base, std::size_t) { VirtualFree(base, 0, MEM_RELEASE); }

}  // namespace qmt
