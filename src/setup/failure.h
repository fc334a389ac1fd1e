#pragma once
// SetupFailure: the complete UTF-8 text shown when a step of the setup fails, and the fixed German texts it is
// made of. A failure is either a complete message alone, or a prefix (ending in ": ") directly followed by the
// description of the underlying error.

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/error.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qmt {

struct SetupFailure {
  std::string text;  // UTF-8, ready for display
};

namespace message {
// Complete messages.
inline constexpr std::string_view kNoLocalAppData = "Der Ordner LOCALAPPDATA wurde nicht gefunden.";
inline constexpr std::string_view kDamaged = "Die Datei ist beschädigt. Lade sie bitte noch einmal herunter.";
// Prefixes; the error's description follows directly.
inline constexpr std::string_view kFolderNotCreated = "Der Programmordner konnte nicht angelegt werden: ";
inline constexpr std::string_view kNotUnpacked = "Quillmart konnte nicht entpackt werden: ";
inline constexpr std::string_view kNotSwapped = "Die alte Version ließ sich nicht austauschen: ";
inline constexpr std::string_view kNotPlaced = "Quillmart konnte nicht abgelegt werden: ";
inline constexpr std::string_view kNotStarted = "Quillmart konnte nicht gestartet werden: ";
}  // namespace message

inline SetupFailure completeFailure(std::string_view text) { return SetupFailure{std::string(text)}; }

// The prefix followed by the error's description (Windows build only: system errors are described by the system).
SetupFailure prefixedFailure(std::string_view prefix, const Error& error);

// The description of an error value: formatSystemError for a Windows code, the fixed English text otherwise.
std::string describeError(const Error& error);

// The system's message for a Windows error code (NT facility codes from NTDLL.DLL's table), its trailing
// whitespace removed, followed by " (os error CODE)". Never fails: when the system has no text, a fallback naming
// the lookup's own error stands in its place.
std::string formatSystemError(std::int32_t code);

#ifdef _WIN32
// formatSystemError with the given FormatMessageW to call (a seam for tests).
using FormatMessageFunction = decltype(&::FormatMessageW);
std::string formatSystemErrorWith(std::int32_t code, FormatMessageFunction format);
#endif

}  // namespace qmt
