#include "runtime/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace qmt {
namespace {

struct Utf16Case {
  const char* name;
  std::u16string units;
  std::optional<std::string> strict;
  std::string lossy;
};

TEST(TextTest, Utf16ToUtf8StrictAndLossy) {
  const Utf16Case cases[] = {
      {"ascii", u"abc", "abc", "abc"},
      {"umlauts and sharp s", u"ließ beschädigt", "lie\xC3\x9F besch\xC3\xA4" "digt", "lie\xC3\x9F besch\xC3\xA4" "digt"},
      {"surrogate pair", u"\U0001F600", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"lone high", std::u16string{u'a', char16_t(0xD800), u'b'}, std::nullopt, "a\xEF\xBF\xBD" "b"},
      {"lone low", std::u16string{char16_t(0xDC00)}, std::nullopt, "\xEF\xBF\xBD"},
      {"lone last low", std::u16string{char16_t(0xDFFF)}, std::nullopt, "\xEF\xBF\xBD"},
      {"high at end", std::u16string{u'x', char16_t(0xDBFF)}, std::nullopt, "x\xEF\xBF\xBD"},
      {"reversed pair", std::u16string{char16_t(0xDC00), char16_t(0xD800)}, std::nullopt,
       "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"empty", u"", "", ""},
      // The edges of each encoded length.
      {"U+007F", u"\u007F", "\x7F", "\x7F"},
      {"U+0080", u"\u0080", "\xC2\x80", "\xC2\x80"},
      {"U+07FF", u"\u07FF", "\xDF\xBF", "\xDF\xBF"},
      {"U+0800", u"\u0800", "\xE0\xA0\x80", "\xE0\xA0\x80"},
      {"U+FFFF", std::u16string{char16_t(0xFFFF)}, "\xEF\xBF\xBF", "\xEF\xBF\xBF"},
      {"U+10000", u"\U00010000", "\xF0\x90\x80\x80", "\xF0\x90\x80\x80"},
      {"U+10FFFF", std::u16string{char16_t(0xDBFF), char16_t(0xDFFF)}, "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf16ToUtf8(c.units), c.strict);
    EXPECT_EQ(utf16ToUtf8Lossy(c.units), c.lossy);
  }
}

TEST(TextTest, Utf8ToUtf16RoundTripsValidText) {
  const std::u16string samples[] = {u"", u"Quillmart", u"Die alte Version ließ sich nicht austauschen: ",
                                    u"\U0001F600 \u00E4\u20AC", std::u16string{char16_t(0xFFFD)}};
  for (const auto& s : samples) EXPECT_EQ(utf8ToUtf16(*utf16ToUtf8(s)), s);
}

TEST(TextTest, Utf8ToUtf16ReplacesInvalidBytes) {
  const struct {
    std::string bytes;
    std::u16string units;
  } cases[] = {
      {"\x80", u"\uFFFD"},
      {"a\xC3", u"a\uFFFD"},                    // truncated sequence at the end
      {std::string("a\xC3\xA4", 2), u"a\uFFFD"},  // a view that ends inside a sequence
      {std::string("\xE2\x82\xAC", 2), u"\uFFFD\uFFFD"},
      {std::string("\xF0\x9F\x98\x80", 3), u"\uFFFD\uFFFD\uFFFD"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xE2\x82\xAC!", u"\u20AC!"},
  };
  for (const auto& c : cases) {
    // The view ends where its allocation ends: a read past the view is one the sanitizer reports.
    auto exact = std::make_unique<char[]>(c.bytes.size());
    std::memcpy(exact.get(), c.bytes.data(), c.bytes.size());
    EXPECT_EQ(utf8ToUtf16(std::string_view(exact.get(), c.bytes.size())), c.units);
  }
}

TEST(TextTest, DecimalHasSignAndNoGrouping) {
  EXPECT_EQ(decimal(0), "0");
  EXPECT_EQ(decimal(1234567), "1234567");
  EXPECT_EQ(decimal(-1073741819), "-1073741819");
}

}  // namespace
}  // namespace qmt
