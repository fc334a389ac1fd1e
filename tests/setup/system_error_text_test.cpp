#include "setup/system_error_text.h"

#include <gtest/gtest.h>

namespace qmt {
namespace {

TEST(SystemErrorTextTest, RequestUsesNtdllOnlyForNtCodesWhenItIsFound) {
  const struct {
    const char* name;
    std::uint32_t code;
    bool ntdllFound;
    std::int32_t number;
    std::uint32_t flags;
    bool fromNtdll;
  } cases[] = {
      {"plain code", 5, true, 5, 0x1200, false},
      {"nt code, ntdll found", 0xD0000034, true, static_cast<std::int32_t>(0xC0000034u), 0x1A00, true},
      {"nt code, ntdll missing", 0xD0000034, false, static_cast<std::int32_t>(0xD0000034u), 0x1200, false},
      {"hresult without the nt bit", 0x80070005, true, static_cast<std::int32_t>(0x80070005u), 0x1200, false},
      {"bit alone", 0x10000000, true, 0, 0x1A00, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MessageRequest r = messageRequestFor(static_cast<std::int32_t>(c.code), c.ntdllFound);
    EXPECT_EQ(r.messageNumber, c.number);
    EXPECT_EQ(r.flags, c.flags);
    EXPECT_EQ(r.fromNtdll, c.fromNtdll);
  }
}

TEST(SystemErrorTextTest, ComposesTextFromWhatTheLookupGaveBack) {
  const std::u16string lone{u'A', char16_t(0xD800), u'.'};
  const struct {
    const char* name;
    std::int32_t code;
    bool ntdll;
    std::optional<std::u16string> message;
    std::uint32_t lookupError;
    std::string expected;
  } cases[] = {
      {"line break cut", 5, false, u"Access is denied.\r\n", 0, "Access is denied. (os error 5)"},
      {"every trailing kind cut", 2, false, u"Gone. \t\n\f\r", 0, "Gone. (os error 2)"},
      {"vertical tab kept", 2, false, u"Gone.\v", 0, "Gone.\v (os error 2)"},
      {"inner breaks kept", 2, false, u"a\r\nb\r\n", 0, "a\r\nb (os error 2)"},
      {"german text", 5, false, u"Zugriff verweigert\r\n", 0, "Zugriff verweigert (os error 5)"},
      {"umlaut kept as utf-8", 5, false, u"Datei \u00FCbersprungen.\r\n", 0,
       "Datei \xC3\xBC" "bersprungen. (os error 5)"},
      {"lookup failed", 74565, false, std::nullopt, 317,
       "OS Error 74565 (FormatMessageW() returned error 317) (os error 74565)"},
      {"nt lookup failed: number without the bit, code with it", static_cast<std::int32_t>(0xD0000034u), true,
       std::nullopt, 1813,
       "OS Error -1073741772 (FormatMessageW() returned error 1813) (os error -805306316)"},
      {"unpaired surrogate", 87, false, lone, 0, "OS Error 87 (FormatMessageW() returned invalid UTF-16) (os error 87)"},
      {"only whitespace", 9, false, u"\r\n", 0, " (os error 9)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MessageRequest request = messageRequestFor(c.code, c.ntdll);
    std::optional<std::u16string_view> view;
    if (c.message) view = *c.message;
    EXPECT_EQ(composeSystemErrorText(c.code, request, view, c.lookupError), c.expected);
  }
}

}  // namespace
}  // namespace qmt
