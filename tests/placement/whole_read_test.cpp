#include "placement/whole_read.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "placement/whole_compare.h"

namespace qmt {
namespace {

// A file in memory read from its current position; records what each transfer asked for and can fail one.
struct ScriptedFile {
  explicit ScriptedFile(std::vector<std::uint8_t> bytes) : content(std::move(bytes)) {}
  std::vector<std::uint8_t> content;
  std::size_t position = 0;
  std::vector<std::size_t> asked;
  std::size_t failAt = SIZE_MAX;  // index of the transfer that fails with error 23

  ReadTransfer reader() {
    return [this](std::uint8_t* buffer, std::size_t length) -> Expected<std::size_t, Error> {
      asked.push_back(length);
      if (asked.size() - 1 == failAt) return unexpected(Error::system(23));
      std::size_t n = std::min(length, content.size() - position);
      std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(position), n, buffer);
      position += n;
      return n;
    };
  }
};

std::vector<std::uint8_t> pattern(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

TEST(WholeReadTest, TransferPatternBySizeAndHint) {
  constexpr auto kNoHint = std::nullopt;
  struct Case {
    const char* name;
    std::size_t size;
    std::optional<std::uint64_t> hint;
    std::vector<std::size_t> asked;
  };
  const Case cases[] = {
      {"ordinary file: the whole file, then one probe", 1000, 1000, {1000, 32}},
      {"exactly one probe long", 32, 32, {32, 32}},
      {"large file below the read limit", 20000, 20000, {20000, 32}},
      {"empty file: one probe", 0, 0, {32}},
      {"small file: probes only", 10, 10, {32, 32}},
      {"no hint, empty", 0, kNoHint, {32}},
      {"no hint: probe, 32 bytes, then all free space", 100, kNoHint, {32, 32, 64, 156}},
      {"grown since the size query", 50, 10, {32, 32, 78}},
      {"shrunk since the size query", 40, 100, {100, 60}},
  };
  for (const auto& c : cases) {
    ScriptedFile file(pattern(c.size));
    auto result = readAllWithHint(c.hint, file.reader());
    ASSERT_TRUE(result) << c.name;
    EXPECT_EQ(file.asked, c.asked) << c.name;
    ASSERT_EQ(result->size(), c.size) << c.name;
    EXPECT_TRUE(std::equal(file.content.begin(), file.content.end(), result->data())) << c.name;
    if (c.hint && *c.hint == c.size && c.size >= 32) {
      EXPECT_EQ(result->capacity(), c.size) << c.name << ": the buffer is exactly the file";
    }
  }
}

TEST(WholeReadTest, DirectReadsStayWithinTheHintedLimitWhenTheFileGrew) {
  // Hint 100 gives a per-read limit of 8192 (100 + 1024 rounded up), which holds for the whole read.
  ScriptedFile file(pattern(70000));
  auto result = readAllWithHint(100, file.reader());
  ASSERT_TRUE(result);
  EXPECT_EQ(result->size(), 70000u);
  EXPECT_EQ(*std::max_element(file.asked.begin(), file.asked.end()), 8192u);
  // Hint 7169 gives 7169 + 1024 = 8193, rounded up to 16384.
  ScriptedFile grown(pattern(70000));
  ASSERT_TRUE(readAllWithHint(7169, grown.reader()));
  EXPECT_EQ(*std::max_element(grown.asked.begin(), grown.asked.end()), 16384u);
}

TEST(WholeReadTest, WithoutHintTheLimitLiftsAfterTheFirstDirectRead) {
  ScriptedFile file(pattern(100000));
  auto result = readAllWithHint(std::nullopt, file.reader());
  ASSERT_TRUE(result);
  EXPECT_EQ(result->size(), 100000u);
  EXPECT_GT(*std::max_element(file.asked.begin(), file.asked.end()), 8192u);
}

TEST(WholeReadTest, ImpossibleHintsFailWithOutOfMemoryBeforeAnyTransfer) {
  const std::uint64_t hints[] = {std::numeric_limits<std::uint64_t>::max(),
                                 std::uint64_t{std::numeric_limits<std::int64_t>::max()} + 1,
                                 std::uint64_t{1} << 50};  // representable, but no such memory
  for (std::uint64_t hint : hints) {
    ScriptedFile file(pattern(10));
    auto result = readAllWithHint(hint, file.reader());
    ASSERT_FALSE(result) << hint;
    EXPECT_EQ(result.error(), Error::of(ErrorKind::OutOfMemory)) << hint;
    EXPECT_TRUE(file.asked.empty()) << hint;
  }
}

TEST(WholeReadTest, AnyTransferErrorFailsTheRead) {
  struct Case {
    std::size_t size;
    std::optional<std::uint64_t> hint;
    std::size_t failAt;
  };
  const Case cases[] = {{1000, 1000, 0}, {1000, 1000, 1}, {10, 10, 1}, {100, std::nullopt, 0}, {100, std::nullopt, 2}};
  for (const auto& c : cases) {
    ScriptedFile file(pattern(c.size));
    file.failAt = c.failAt;
    auto result = readAllWithHint(c.hint, file.reader());
    ASSERT_FALSE(result) << c.failAt;
    EXPECT_EQ(result.error(), Error::system(23));
    EXPECT_EQ(file.asked.size(), c.failAt + 1) << "nothing is retried";
  }
}

// The identical-file check against content of three whole pieces and a part (200,000 bytes): the file as found
// by the size query, then as the reads find it (changed, shrunk or grown in between).
TEST(WholeCompareTest, SizeFirstThenPiecesUpToTheEnd) {
  constexpr std::size_t kSize = 200000;
  const std::vector<std::uint8_t> content = pattern(kSize);
  const auto changedAt = [&](std::size_t index) {
    auto bytes = content;
    bytes[index] ^= 0x01;
    return bytes;
  };
  const auto resized = [](std::size_t size) { return pattern(size); };
  const std::vector<std::size_t> wholeFile = {65536, 65536, 65536, 3392, 32};
  struct Case {
    const char* name;
    std::vector<std::uint8_t> file;
    std::optional<std::uint64_t> hint;
    bool same;
    std::vector<std::size_t> asked;
  };
  const Case cases[] = {
      {"identical: the pieces, then one probe finds the end", content, kSize, true, wholeFile},
      {"identical, no size hint", content, std::nullopt, true, wholeFile},
      {"one byte longer: decided by the size, nothing read", resized(kSize + 1), kSize + 1, false, {}},
      {"one byte shorter: decided by the size", resized(kSize - 1), kSize - 1, false, {}},
      {"same size, first piece differs", changedAt(0), kSize, false, {65536}},
      {"same size, a middle piece differs", changedAt(100000), kSize, false, {65536, 65536}},
      {"same size, the last byte differs", changedAt(kSize - 1), kSize, false, {65536, 65536, 65536, 3392}},
      {"grew after the size query", resized(kSize + 5), kSize, false, wholeFile},
      {"shrunk after the size query", resized(kSize - 1000), kSize, false, {65536, 65536, 65536, 3392, 1000}},
      {"longer, no size hint", resized(kSize + 5), std::nullopt, false, wholeFile},
  };
  for (const auto& c : cases) {
    ScriptedFile file(c.file);
    auto result = compareInPieces(c.hint, content, file.reader());
    ASSERT_TRUE(result) << c.name;
    EXPECT_EQ(*result, c.same) << c.name;
    EXPECT_EQ(file.asked, c.asked) << c.name;
  }
  // Small and empty files: one read of the whole content, then the probe; read errors are the check's error.
  for (std::size_t size : {10, 0}) {
    ScriptedFile file(pattern(size));
    auto result = compareInPieces(size, pattern(size), file.reader());
    EXPECT_TRUE(result && *result) << size;
    const std::vector<std::size_t> asked = size == 0 ? std::vector<std::size_t>{32} : std::vector<std::size_t>{10, 32};
    EXPECT_EQ(file.asked, asked) << size;
  }
  for (std::size_t failAt : {0, 4}) {
    ScriptedFile failing(content);
    failing.failAt = failAt;
    auto result = compareInPieces(kSize, content, failing.reader());
    ASSERT_FALSE(result) << failAt;
    EXPECT_EQ(result.error(), Error::system(23)) << failAt;
  }
}

}  // namespace
}  // namespace qmt
