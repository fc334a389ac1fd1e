#include "runtime/byte_buffer.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "runtime/address_space.h"
#include "runtime/fatal.h"

namespace qmt {
namespace {

// A reservation of 16 times a length holds four doublings in place: a file that compresses up to 32:1 unpacks
// without moving its bytes, and the untouched range costs no memory.
constexpr std::size_t kReservedGrowth = 16;
constexpr std::size_t kReservationGranule = 64 * 1024;  // Windows hands out address space in these units

struct Reservation {
  std::uint8_t* base;
  std::size_t size;
};

std::size_t roundedToGranule(std::size_t size, std::size_t length) {
  if (size > std::numeric_limits<std::size_t>::max() - kReservationGranule) allocationFailed(length);
  return (size + kReservationGranule - 1) / kReservationGranule * kReservationGranule;
}

// Room for four doublings, or for the length alone when sixteen times it is beyond any address. Address space that
// cannot be had is exhausted memory.
Reservation reserveFor(std::size_t length) {
  const std::size_t least = length == 0 ? 1 : length;
  const std::size_t wanted =
      least > std::numeric_limits<std::size_t>::max() / kReservedGrowth ? least : least * kReservedGrowth;
  const std::size_t size = roundedToGranule(wanted, length);
  void* base = reserveAddressSpace(size);
  if (base == nullptr) allocationFailed(length);
  return {static_cast<std::uint8_t*>(base), size};
}

}  // namespace

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      reserved_(std::exchange(other.reserved_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    reserved_ = std::exchange(other.reserved_, 0);
  }
  return *this;
}

ByteBuffer::~ByteBuffer() { release(); }

void ByteBuffer::release() {
  if (reserved_ != 0) {
    releaseAddressSpace(data_, reserved_);
  } else {
    std::free(data_);
  }
}

std::optional<ByteBuffer> ByteBuffer::tryWithCapacity(std::size_t capacity) {
  ByteBuffer buffer;
  if (capacity == 0) return buffer;
  buffer.data_ = static_cast<std::uint8_t*>(std::malloc(capacity));
  if (buffer.data_ == nullptr) return std::nullopt;
  buffer.capacity_ = capacity;
  return buffer;
}

ByteBuffer ByteBuffer::zeroed(std::size_t length) {
  ByteBuffer buffer;
  buffer.resizeZeroed(length);
  return buffer;
}

ByteBuffer ByteBuffer::zeroedInReservedSpace(std::size_t length) {
  const Reservation range = reserveFor(length);
  ByteBuffer buffer;
  buffer.data_ = range.base;
  buffer.reserved_ = range.size;
  buffer.growInReservedSpace(length);
  buffer.size_ = length;
  return buffer;
}

void ByteBuffer::reserveExact(std::size_t newCapacity) {
  if (newCapacity < size_) newCapacity = size_;
  if (newCapacity == capacity_) return;
  if (reserved_ != 0) {
    if (newCapacity > capacity_) growInReservedSpace(newCapacity);
    return;
  }
  if (newCapacity == 0) {
    std::free(data_);
    data_ = nullptr;
    capacity_ = 0;
    return;
  }
  void* grown = std::realloc(data_, newCapacity);
  if (grown == nullptr) allocationFailed(newCapacity);
  data_ = static_cast<std::uint8_t*>(grown);
  capacity_ = newCapacity;
}

// Commits the range up to the new capacity; a range too small is swapped for a larger one, which holds the old
// and the new memory at once only for the copy, as a moving reallocation would.
void ByteBuffer::growInReservedSpace(std::size_t newCapacity) {
  if (newCapacity > reserved_) {
    const Reservation range = reserveFor(newCapacity);
    if (!commitAddressSpace(range.base, newCapacity)) allocationFailed(newCapacity);
    if (size_ != 0) std::memcpy(range.base, data_, size_);
    releaseAddressSpace(data_, reserved_);
    data_ = range.base;
    reserved_ = range.size;
  } else if (!commitAddressSpace(data_, newCapacity)) {
    allocationFailed(newCapacity);
  }
  capacity_ = newCapacity;
}

void ByteBuffer::resizeZeroed(std::size_t newLength) {
  if (newLength > size_) {
    // Bytes below the capacity may hold earlier content and are cleared; beyond it, a heap allocation's new bytes
    // are cleared too, while reserved space gives pages that were never written and are zero already.
    const std::size_t reused = newLength < capacity_ ? newLength : capacity_;
    if (reused > size_) std::memset(data_ + size_, 0, reused - size_);
    if (newLength > capacity_) {
      reserveExact(newLength);
      if (reserved_ == 0) std::memset(data_ + reused, 0, newLength - reused);
    }
  }
  size_ = newLength;
}

void ByteBuffer::truncate(std::size_t newLength) {
  if (newLength > size_) internalFault("ByteBuffer::truncate beyond the length");
  size_ = newLength;
}

void ByteBuffer::append(const std::uint8_t* bytes, std::size_t n) {
  if (n > spareCapacity()) internalFault("ByteBuffer::append without room");
  if (n != 0) std::memcpy(data_ + size_, bytes, n);
  size_ += n;
}

void ByteBuffer::commit(std::size_t n) {
  if (n > spareCapacity()) internalFault("ByteBuffer::commit beyond the capacity");
  size_ += n;
}

}  // namespace qmt
