#pragma once
// Whether the tests run under Wine or on Windows. A few system answers differ (error codes of edge cases, the
// system's message texts, calls Wine does not implement); tests that meet one expect Wine's answer under Wine and
// the one Windows documents elsewhere, so that the same suite also holds on Windows.

#include <windows.h>

namespace qmt::test {

// True under Wine, whose ntdll exports wine_get_version; Windows' ntdll has no such export.
inline bool underWine() {
  static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

}  // namespace qmt::test
