#pragma once
// An owned, growable byte buffer with a length and a separate capacity, so that callers can follow an exact growth
// policy (unpacking doubles its length; whole-file reading sizes its capacity from the file). Growth that fails
// ends the process through allocationFailed; only tryWithCapacity reports a failed allocation to its caller.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qmt {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer();

  // An empty buffer whose allocation holds exactly `capacity` bytes; nullopt when that memory cannot be had.
  static std::optional<ByteBuffer> tryWithCapacity(std::size_t capacity);
  // A buffer of `length` zero bytes, allocated exactly.
  static ByteBuffer zeroed(std::size_t length);

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

  // Makes the allocation exactly `newCapacity` bytes; never shrinks below the length.
  void reserveExact(std::size_t newCapacity);
  // Sets the length; bytes beyond the old length are zero. Grows the allocation to exactly the new length if needed.
  void resizeZeroed(std::size_t newLength);
  // Cuts the length; the allocation stays as it is. Precondition: newLength <= size().
  void truncate(std::size_t newLength);
  // Appends bytes; the caller has made room (precondition: n <= spareCapacity()).
  void append(const std::uint8_t* bytes, std::size_t n);

  // The free space after the length, for a transfer that writes straight into the buffer; commit(n) then adds the
  // n bytes written there to the length.
  std::uint8_t* spare() { return data_ + size_; }
  std::size_t spareCapacity() const { return capacity_ - size_; }
  void commit(std::size_t n);

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace qmt
