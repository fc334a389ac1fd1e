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

}  // namespace
}  // namespace qmt
