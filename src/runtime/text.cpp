#include "runtime/text.h"

#include <cstdint>

namespace qmt {
namespace {

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Walks the units; an unpaired surrogate is handed to onUnpaired, which returns false to stop.
template <class OnUnpaired>
bool convert(std::u16string_view units, std::string& out, OnUnpaired onUnpaired) {
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char16_t u = units[i];
    if (isHighSurrogate(u) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
      char32_t c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      appendUtf8(out, c);
      ++i;
    } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
      if (!onUnpaired(out)) return false;
    } else {
      appendUtf8(out, u);
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> utf16ToUtf8(std::u16string_view units) {
  std::string out;
  if (!convert(units, out, [](std::string&) { return false; })) return std::nullopt;
  return out;
}

std::string utf16ToUtf8Lossy(std::u16string_view units) {
  std::string out;
  convert(units, out, [](std::string& o) {
    appendUtf8(o, 0xFFFD);
    return true;
  });
  return out;
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<std::uint8_t>(text[i]);
    // Number of continuation bytes the lead byte announces; 4 marks a byte that cannot start a sequence.
    std::size_t more = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : 4;
    char32_t c = more == 0 ? lead : more == 1 ? (lead & 0x1Fu) : more == 2 ? (lead & 0x0Fu) : (lead & 0x07u);
    bool ok = more < 4 && i + more < text.size();
    for (std::size_t k = 1; ok && k <= more; ++k) {
      auto b = static_cast<std::uint8_t>(text[i + k]);
      ok = (b & 0xC0) == 0x80;
      c = (c << 6) | (b & 0x3Fu);
    }
    static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (ok && (c < kSmallest[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
    if (!ok) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += more + 1;
  }
  return out;
}

std::u16string asciiToUtf16(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::string decimal(long long value) { return std::to_string(value); }

}  // namespace qmt
