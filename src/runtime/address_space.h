#pragma once
// Address space reserved for a buffer that grows: a range is reserved with no memory behind it, and memory is
// committed at its start as the buffer grows, so the bytes never move while the range lasts. Committed pages that
// were never written read as zero (Windows: VirtualAlloc; elsewhere: mmap and mprotect).

#include <cstddef>

namespace qmt {

// Reserves `size` bytes of address space, no memory yet; nullptr when the system refuses.
void* reserveAddressSpace(std::size_t size);

// Makes the first `size` bytes of the range reserved at `base` usable (whole pages); pages committed now for the
// first time read as zero. False when the memory cannot be had. Precondition: `size` is within the reservation.
bool commitAddressSpace(void* base, std::size_t size);

// Gives back the whole range reserved at `base` with `size` bytes, and the memory committed in it.
void releaseAddressSpace(void* base, std::size_t size);

}  // namespace qmt
