#include "payload/unpack.h"

#include <gtest/gtest.h>

#include <string>

#include "zlib_streams.h"

namespace qmt {
namespace {

using testing::BitWriter;
using testing::Bytes;
using testing::compressed;
using testing::DeflateSettings;

const std::string kDamaged(message::kDamaged);

Bytes unpacked(const Bytes& stream, UnpackStats* stats = nullptr) {
  auto result = unpack(stream, stats);
  if (!result) ADD_FAILURE() << "unpack failed: " << result.error().text;
  if (!result) return {};
  return Bytes(result->data(), result->data() + result->size());
}

void expectDamaged(const Bytes& stream, const std::string& what) {
  const auto result = unpack(stream);
  ASSERT_FALSE(result.has_value()) << what;
  EXPECT_EQ(result.error().text, kDamaged) << what;
}

const Bytes kText = testing::textBytes(
    "Quillmart stores notes, drafts and lists. The same words come back again and again, so this text compresses "
    "well: notes, drafts and lists, notes, drafts and lists.");

// The smallest doublings that make 2 * compressed length hold `size` bytes.
unsigned expectedGrowths(std::size_t compressedSize, std::size_t size) {
  unsigned growths = 0;
  for (std::size_t length = 2 * compressedSize; length < size; length *= 2) ++growths;
  return growths;
}

TEST(Unpack, FailureTextIsExactlyTheDamagedMessage) {
  const auto result = unpack({});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().text, "Die Datei ist besch\xC3\xA4" "digt. Lade sie bitte noch einmal herunter.");
  EXPECT_EQ(result.error().text.size(), 63u);
}

struct Damage {
  const char* name;
  Bytes stream;
};

Bytes withByte(Bytes stream, std::size_t index, std::uint8_t value) {
  stream[index] = value;
  return stream;
}

Bytes withoutLast(Bytes stream, std::size_t count) {
  stream.resize(stream.size() - count);
  return stream;
}

// A header (CMF, FLG) in front of the deflate data and trailer of a valid stream.
Bytes withHeader(std::uint8_t cmf, std::uint8_t flg) {
  Bytes stream = compressed(kText);
  stream[0] = cmf;
  stream[1] = flg;
  return stream;
}

// FLG completing CMF to a multiple of 31, with the FDICT bit as asked.
std::uint8_t checkedFlg(std::uint8_t cmf, bool fdict) {
  for (unsigned flg = fdict ? 0x20 : 0; flg < 256; ++flg)
    if (((flg & 0x20) != 0) == fdict && (cmf * 256u + flg) % 31 == 0) return static_cast<std::uint8_t>(flg);
  return 0;
}

std::vector<Damage> damagedStreams() {
  const Bytes good = compressed(kText);
  const std::size_t trailer = good.size() - 4;
  std::vector<Damage> cases = {
      {"empty input", {}},
      {"one byte", {0x78}},
      {"header only", {0x78, 0xDA}},
      {"last byte removed", withoutLast(good, 1)},
      {"whole trailer removed", withoutLast(good, 4)},
      {"trailer byte 1 changed", withByte(good, trailer, static_cast<std::uint8_t>(good[trailer] ^ 0x01))},
      {"trailer byte 4 changed", withByte(good, trailer + 3, static_cast<std::uint8_t>(good[trailer + 3] ^ 0x80))},
      {"gzip stream (method 15)", compressed(kText, {.windowBits = MAX_WBITS + 16})},
      {"method 7", withHeader(0x77, checkedFlg(0x77, false))},
      {"CINFO 8 (64 KiB window)", withHeader(0x88, checkedFlg(0x88, false))},
      {"CINFO 15", withHeader(0xF8, checkedFlg(0xF8, false))},
      {"check by 31 fails", withHeader(0x78, 0xDB)},
      {"FDICT set on an ordinary stream", withHeader(0x78, checkedFlg(0x78, true))},
      {"preset dictionary", compressed(kText, {.dictionary = "notes drafts lists"})},
      {"deflate data changed", withByte(good, good.size() / 2, static_cast<std::uint8_t>(good[good.size() / 2] ^ 0xFF))},
      {"reserved block type 3", testing::zlibWrapped({0x07, 0x00}, 1)},
      {"stored block length check wrong", testing::zlibWrapped({0x01, 0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c'}, 1)},
  };
  // A fixed-code block whose first symbol copies from one byte back, before the start of the output.
  BitWriter farBack;
  farBack.bits(1, 1);   // BFINAL
  farBack.bits(1, 2);   // BTYPE 01: fixed codes
  farBack.code(1, 7);   // 257: length 3
  farBack.code(0, 5);   // distance code 0: distance 1
  farBack.code(0, 7);   // 256: end of block
  cases.push_back({"back-reference before the output", testing::zlibWrapped(farBack.finish(), 1)});
  return cases;
}

TEST(Unpack, EveryKindOfDamageGivesTheDamagedMessage) {
  for (const Damage& damage : damagedStreams()) expectDamaged(damage.stream, damage.name);
}

TEST(Unpack, StreamCutAnywhereBeforeItsEndIsDamaged) {
  for (const auto& input : {kText, Bytes{}, testing::randomBytes(3000, 7)}) {
    const Bytes good = compressed(input);
    for (std::size_t length = 0; length < good.size(); ++length)
      expectDamaged(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)),
                    "cut to " + std::to_string(length) + " of " + std::to_string(good.size()));
  }
}

// The same bit writer produces a stream that unpacks, so the back-reference case above fails for its distance.
TEST(Unpack, HandMadeFixedCodeBlockUnpacks) {
  BitWriter writer;
  writer.bits(1, 1);
  writer.bits(1, 2);
  writer.code(0x30 + 'a', 8);  // literal 'a'
  writer.code(1, 7);           // length 3
  writer.code(0, 5);           // distance 1
  writer.code(0, 7);           // end of block
  const Bytes expected = testing::textBytes("aaaa");
  EXPECT_EQ(unpacked(testing::zlibWrapped(writer.finish(), testing::adlerOf(expected))), expected);
}

struct Valid {
  const char* name;
  Bytes input;
  DeflateSettings settings;
};

// Every conforming stream is accepted, whatever compressor settings made it (CINFO 0..7 included).
TEST(Unpack, ValidStreamsGiveTheInputExactly) {
  const Bytes program = testing::programLikeBytes(200000, 3);
  const std::vector<Valid> cases = {
      {"text, level 9", kText, {}},
      {"empty file", {}, {}},
      {"one byte", {0x42}, {}},
      {"random bytes (stored blocks)", testing::randomBytes(100000, 1), {}},
      {"program-like, level 0", program, {.level = 0}},
      {"program-like, level 1", program, {.level = 1}},
      {"program-like, level 6", program, {.level = 6}},
      {"program-like, 256-byte window (CINFO 0)", program, {.windowBits = 8}},
      {"program-like, 16 KiB window (CINFO 6)", program, {.windowBits = 14}},
      {"program-like, Huffman only", program, {.strategy = Z_HUFFMAN_ONLY}},
      {"program-like, run lengths", program, {.strategy = Z_RLE}},
      {"program-like, fixed codes", program, {.strategy = Z_FIXED}},
  };
  for (const Valid& valid : cases) {
    const Bytes stream = compressed(valid.input, valid.settings);
    UnpackStats stats;
    EXPECT_EQ(unpacked(stream, &stats), valid.input) << valid.name;
    EXPECT_EQ(stats.growths, expectedGrowths(stream.size(), valid.input.size())) << valid.name;
  }
}

TEST(Unpack, BytesAfterTheTrailerAreIgnored) {
  const Bytes good = compressed(kText);
  for (const Bytes& extra : {Bytes{0x00}, Bytes{0x78, 0xDA}, testing::randomBytes(5000, 9), good}) {
    Bytes stream = good;
    stream.insert(stream.end(), extra.begin(), extra.end());
    EXPECT_EQ(unpacked(stream), kText) << extra.size() << " extra bytes";
  }
}

TEST(Unpack, BufferStartsAtTwiceTheCompressedLengthAndDoubles) {
  // Random bytes do not compress: the first buffer suffices.
  const Bytes random = testing::randomBytes(50000, 5);
  const Bytes randomStream = compressed(random);
  UnpackStats stats;
  const auto result = unpack(randomStream, &stats);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(stats.growths, 0u);
  EXPECT_EQ(stats.bufferLength, 2 * randomStream.size());
  EXPECT_EQ(result->size(), random.size());
  // The allocation is not reduced when the length is cut to the bytes produced.
  EXPECT_EQ(result->capacity(), 2 * randomStream.size());

  // Text compressing about 5:1 needs one or two doublings, to exactly 4 or 8 times the compressed length.
  const Bytes text = testing::programLikeBytes(100000, 11);
  const Bytes textStream = compressed(text);
  const auto textResult = unpack(textStream, &stats);
  ASSERT_TRUE(textResult.has_value());
  EXPECT_GE(stats.growths, 1u);
  EXPECT_EQ(stats.bufferLength, (2 * textStream.size()) << stats.growths);
  EXPECT_EQ(stats.growths, expectedGrowths(textStream.size(), text.size()));
}

// A file hundreds of times its compressed size goes through many doublings; there is no limit.
TEST(Unpack, HighlyCompressibleFileGrowsRepeatedly) {
  Bytes input(24u << 20, 0);
  for (std::size_t i = 0; i < input.size(); i += 4096) input[i] = static_cast<std::uint8_t>(i >> 12);
  const Bytes stream = compressed(input);
  ASSERT_GT(input.size(), 300 * stream.size());
  UnpackStats stats;
  const Bytes output = unpacked(stream, &stats);
  EXPECT_TRUE(output == input);
  EXPECT_EQ(stats.growths, expectedGrowths(stream.size(), input.size()));
  EXPECT_GE(stats.growths, 8u);
}

}  // namespace
}  // namespace qmt
