#pragma once
// An owned, growable byte buffer with a length and a separate capacity, so that callers can follow an exact growth
// policy (unpacking doubles its length; whole-file reading sizes its capacity from the file). Its bytes are a heap
// allocation, or for a buffer that keeps growing the start of its own reserved address range. Growth that fails
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
  // A buffer of `length` zero bytes at the start of an address range reserved for 16 times that length, with
  // memory committed for exactly its capacity. Growth commits more of the range in place and moves the bytes only
  // when the range is used up (into a range reserved for 16 times the new capacity); the zero bytes are pages
  // fresh from the system, never written here.
  static ByteBuffer zeroedInReservedSpace(std::size_t length);

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

  // Makes the allocation exactly `newCapacity` bytes; never shrinks below the length. A buffer in reserved space
  // never shrinks: its memory stays committed until the buffer is freed.
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
  std::size_t reserved_ = 0;  // the size of the reserved range holding the bytes; 0 for a heap allocation

  void release();
  void growInReservedSpace(std::size_t newCapacity);
};

}  // namespace qmt
