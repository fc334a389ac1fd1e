#pragma once
// The portable code holds UTF-16 as char16_t; Windows takes wchar_t, which is the same 16-bit unit there.

#include <string>
#include <string_view>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

namespace qmt {

inline const wchar_t* wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline wchar_t* wide(char16_t* s) { return reinterpret_cast<wchar_t*>(s); }

inline std::u16string_view fromWide(const wchar_t* s, std::size_t n) {
  return {reinterpret_cast<const char16_t*>(s), n};
}
inline std::u16string_view fromWide(const wchar_t* s) {
  return fromWide(s, std::char_traits<wchar_t>::length(s));
}

}  // namespace qmt
