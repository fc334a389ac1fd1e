#include "setup/system_error_text.h"

#include "runtime/text.h"

namespace qmt {
namespace {

// The trailing bytes that system messages end with: blank, tab, line feed, form feed, carriage return.
bool isTrailingSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

std::string messageText(const MessageRequest& request, std::optional<std::u16string_view> message,
                        std::uint32_t lookupError) {
  std::string number = decimal(request.messageNumber);
  if (!message) {
    return "OS Error " + number + " (FormatMessageW() returned error " + decimal(lookupError) + ")";
  }
  std::optional<std::string> utf8 = utf16ToUtf8(*message);
  if (!utf8) return "OS Error " + number + " (FormatMessageW() returned invalid UTF-16)";
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
  return messageText(request, message, lookupError) + " (os error " + decimal(code) + ")";
}

}  // namespace qmt
