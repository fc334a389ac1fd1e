#include "setup/system_error_text.h"

#include <initializer_list>
#include <string_view>

#include "runtime/text.h"

namespace qmt {
namespace {

// The trailing bytes that system messages end with: blank, tab, line feed, form feed, carriage return.
bool isTrailingSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// The pieces appended one after the other to one string. Not written with +: adding a temporary string to
// another may insert the left one into the right one's buffer, and since g++ 13 that insertion calls a helper
// that libstdc++ keeps in its prebuilt string object, which brings the C++ exception runtime and a thread
// library into the executable (tests/build/check-exe.sh fails on any of their imports).
std::string joined(std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (std::string_view piece : pieces) text += piece;
  return text;
}

std::string messageText(const MessageRequest& request, std::optional<std::u16string_view> message,
                        std::uint32_t lookupError) {
  const std::string number = decimal(request.messageNumber);
  if (!message) return joined({"OS Error ", number, " (FormatMessageW() returned error ", decimal(lookupError), ")"});
  std::optional<std::string> utf8 = utf16ToUtf8(*message);
  if (!utf8) return joined({"OS Error ", number, " (FormatMessageW() returned invalid UTF-16)"});
  std::string text = std::move(*utf8);
  while (!text.empty() && isTrailingSpace(text.back())) text.pop_back();
  return text;
}

}  // namespace

MessageRequest messageRequestFor(std::int32_t code, bool ntdllFound) {
  MessageRequest request;
  request.messageNumber = code;
  if ((static_cast<std::uint32_t>(code) & kNtFacilityBit) != 0 && ntdllFound) {
    request.messageNumber = static_cast<std::int32_t>(static_cast<std::uint32_t>(code) & ~kNtFacilityBit);
    request.flags = kFormatMessageFlags | kFormatMessageFromModule;
    request.fromNtdll = true;
  }
  return request;
}

std::string composeSystemErrorText(std::int32_t code, const MessageRequest& request,
                                   std::optional<std::u16string_view> message, std::uint32_t lookupError) {
  return joined({messageText(request, message, lookupError), " (os error ", decimal(code), ")"});
}

}  // namespace qmt
