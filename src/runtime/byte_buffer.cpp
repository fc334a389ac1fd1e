#include "runtime/byte_buffer.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "runtime/fatal.h"

namespace qmt {

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

ByteBuffer::~ByteBuffer() { std::free(data_); }

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

void ByteBuffer::reserveExact(std::size_t newCapacity) {
  if (newCapacity < size_) newCapacity = size_;
  if (newCapacity == capacity_) return;
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

void ByteBuffer::resizeZeroed(std::size_t newLength) {
  if (newLength > capacity_) reserveExact(newLength);
  if (newLength > size_) std::memset(data_ + size_, 0, newLength - size_);
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
