#include "runtime/byte_buffer.h"

#include <gtest/gtest.h>

namespace qmt {
namespace {

TEST(ByteBufferTest, ZeroedGrowthKeepsBytesAndZeroFillsTheNewPart) {
  ByteBuffer b = ByteBuffer::zeroed(4);
  ASSERT_EQ(b.size(), 4u);
  b.data()[3] = 7;
  b.resizeZeroed(8);
  EXPECT_EQ(b.size(), 8u);
  EXPECT_EQ(b.capacity(), 8u);
  EXPECT_EQ(b.data()[3], 7);
  for (std::size_t i = 4; i < 8; ++i) EXPECT_EQ(b.data()[i], 0) << i;
  b.truncate(2);
  EXPECT_EQ(b.size(), 2u);
  EXPECT_EQ(b.capacity(), 8u) << "cutting the length keeps the allocation";
}

// A capacity asked for below the length stops at the length, keeping every byte; a buffer assigned over one that
// holds memory frees that memory (the native build's leak checker fails the program otherwise).
TEST(ByteBufferTest, ReserveBelowTheLengthKeepsTheBytesAndAssignmentFreesTheOldMemory) {
  ByteBuffer b = ByteBuffer::zeroed(8);
  for (std::size_t i = 0; i < 8; ++i) b.data()[i] = static_cast<std::uint8_t>(i + 1);
  b.reserveExact(3);
  EXPECT_EQ(b.size(), 8u);
  EXPECT_EQ(b.capacity(), 8u);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(b.data()[i], i + 1) << i;
  b = ByteBuffer::zeroed(2);
  EXPECT_EQ(b.size(), 2u);
  EXPECT_EQ(b.capacity(), 2u);
}

TEST(ByteBufferTest, TryWithCapacityReportsImpossibleSizes) {
  EXPECT_FALSE(ByteBuffer::tryWithCapacity(std::size_t(-1) / 2).has_value());
  auto b = ByteBuffer::tryWithCapacity(16);
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->capacity(), 16u);
  EXPECT_EQ(b->size(), 0u);
}

TEST(ByteBufferTest, SpareAndCommitAppendInPlace) {
  auto b = *ByteBuffer::tryWithCapacity(4);
  const std::uint8_t two[] = {1, 2};
  b.append(two, 2);
  b.spare()[0] = 3;
  b.commit(1);
  EXPECT_EQ(b.size(), 3u);
  EXPECT_EQ(b.spareCapacity(), 1u);
  EXPECT_EQ(b.data()[2], 3);
  ByteBuffer moved = std::move(b);
  EXPECT_EQ(moved.size(), 3u);
  EXPECT_EQ(b.size(), 0u);  // NOLINT: a moved-from buffer is empty
}

// A buffer in reserved space whose 16-fold reservation is exact (a multiple of 64 KiB) keeps its place through four
// doublings, then moves once. Every growth keeps the bytes below the length and gives zero bytes after them, also
// where a cut length had left a written byte behind.
TEST(ByteBufferTest, ReservedSpaceDoublesInPlaceThenMovesKeepingTheBytes) {
  const auto mark = [](std::size_t i) { return static_cast<std::uint8_t>(i % 251 + 1); };
  ByteBuffer b = ByteBuffer::zeroedInReservedSpace(64 << 10);
  const std::pair<std::size_t, bool> doublings[] = {{128 << 10, true}, {256 << 10, true}, {512 << 10, true},
                                                    {1 << 20, true},   {2 << 20, false},  {4 << 20, true}};
  for (const auto& [length, inPlace] : doublings) {
    const std::size_t kept = b.size() - 1;
    for (std::size_t i = 0; i < kept; i += 509) b.data()[i] = mark(i);
    b.data()[kept] = 0xFF;
    b.truncate(kept);
    const std::uint8_t* before = b.data();
    b.resizeZeroed(length);
    EXPECT_EQ(b.data() == before, inPlace) << length;
    EXPECT_EQ(b.capacity(), length);
    for (std::size_t i = 0; i < kept; i += 509) ASSERT_EQ(b.data()[i], mark(i)) << length << " at " << i;
    for (std::size_t i = kept; i < length; i += 509) ASSERT_EQ(b.data()[i], 0) << length << " at " << i;
    ASSERT_EQ(b.data()[length - 1], 0) << length;
  }
}

}  // namespace
}  // namespace qmt
