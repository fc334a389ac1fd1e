#pragma once
// Whether the tests run under Wine or on Windows. A few system answers differ (error codes of edge cases, the
// system's message texts, calls Wine does not implement); tests that meet one expect Wine's answer under Wine and
// the one Windows documents elsewhere, so that the same suite also holds on Windows. Where Wine versions differ
// (a call that a later Wine implements as Windows does), the test asks for the version, or for the capability
// itself, and expects the Windows answer from every Wine that has it.

#include <windows.h>

#include <cstdlib>

namespace qmt::test {

// Wine's version as its ntdll reports it ("8.0", "10.0"); nullptr on Windows, whose ntdll has no such export.
inline const char* wineVersion() {
  using VersionQuery = const char*(__cdecl*)();
  static const char* const version = [] {
    auto query = reinterpret_cast<VersionQuery>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return query != nullptr ? query() : nullptr;
  }();
  return version;
}

// True under Wine.
inline bool underWine() { return wineVersion() != nullptr; }

// The major number of Wine's version (8 for "8.0"); 0 on Windows.
inline int wineMajorVersion() { return underWine() ? std::atoi(wineVersion()) : 0; }

}  // namespace qmt::test
