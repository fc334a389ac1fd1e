#include "harness/demo_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qmt::testing {
namespace {

std::vector<std::uint8_t> utf16le(const std::u16string& units) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : units) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

std::u16string records(std::initializer_list<std::u16string> items) {
  std::u16string all;
  for (const auto& item : items) {
    all += item;
    all += u'\0';
  }
  return all;
}

TEST(DemoReport, ReadsRecordsWithExactUnits) {
  const std::u16string lone = std::u16string(u"a") + char16_t(0xD800) + u"b";
  const auto report = DemoReport::parse(utf16le(records({
      u"commandLine=\"C:\\x y\\Quillmart.exe\" \u00e4 " + lone, u"cwd=C:\\x y", u"crtArgc=2",
      u"crtArg0=C:\\x y\\Quillmart.exe", u"crtArg1=" + lone, u"shellArgc=1", u"shellArg0=Quillmart.exe",
      u"env.QMT_DATA=", u"stdin=none", u"stdout=pipe", u"stderr=disk", u"loader=0x80004001", u"a=b=c"})));
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->value("crtArg1"), lone);
  EXPECT_EQ(report->value("commandLine"), u"\"C:\\x y\\Quillmart.exe\" \u00e4 " + lone);
  EXPECT_EQ(report->ascii("stdout"), "pipe");
  EXPECT_EQ(report->ascii("loader"), "0x80004001");
  EXPECT_EQ(report->value("a"), u"b=c");  // only the first '=' separates
  EXPECT_TRUE(report->has("env.QMT_DATA"));
  EXPECT_EQ(report->value("env.QMT_DATA"), u"");
  EXPECT_FALSE(report->has("QMT_DATA"));
  const auto crt = report->arguments("crt");
  ASSERT_TRUE(crt.has_value());
  EXPECT_EQ(*crt, (std::vector<std::u16string>{u"C:\\x y\\Quillmart.exe", lone}));
  const auto shell = report->arguments("shell");
  ASSERT_TRUE(shell.has_value());
  EXPECT_EQ(shell->size(), 1u);
}

TEST(DemoReport, RejectsMalformedReports) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<std::uint8_t> odd = utf16le(records({u"a=b"}));
  odd.push_back(0);
  const std::vector<Case> cases = {
      {"odd byte count", odd},
      {"last record without NUL", utf16le(u"a=b")},
      {"record without '='", utf16le(records({u"ab"}))},
      {"empty key", utf16le(records({u"=b"}))},
      {"key given twice", utf16le(records({u"a=1", u"a=2"}))},
      {"non-ASCII key", utf16le(records({u"\u00e4=1"}))},
      {"empty record", utf16le(records({u"a=1", u""}))},
  };
  for (const Case& c : cases) EXPECT_FALSE(DemoReport::parse(c.bytes).has_value()) << c.name;
  EXPECT_TRUE(DemoReport::parse({}).has_value()) << "an empty report is well-formed (and has no keys)";
}

TEST(DemoReport, ArgumentsNeedTheirCountAndEveryRecord) {
  const auto missing = DemoReport::parse(utf16le(records({u"crtArgc=2", u"crtArg0=x"})));
  ASSERT_TRUE(missing.has_value());
  EXPECT_FALSE(missing->arguments("crt").has_value());
  EXPECT_FALSE(missing->arguments("shell").has_value());
}

TEST(DemoReport, LoadFailsForAMissingFile) {
  EXPECT_FALSE(DemoReport::load("no-such-demo-report.bin").has_value());
}

}  // namespace
}  // namespace qmt::testing
