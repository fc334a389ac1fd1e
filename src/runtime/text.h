#pragma once
// Conversions between the UTF-16 units that Windows hands out (paths, environment values, command lines) and the
// UTF-8 of message texts. Paths are carried as UTF-16 units unvalidated, so these conversions are used only where
// a text is composed or shown.

#include <optional>
#include <string>
#include <string_view>

namespace qmt {

// UTF-16 to UTF-8; nullopt when the units hold an unpaired surrogate.
std::optional<std::string> utf16ToUtf8(std::u16string_view units);

// UTF-16 to UTF-8 with every unpaired surrogate replaced by U+FFFD.
std::string utf16ToUtf8Lossy(std::u16string_view units);

// UTF-8 to UTF-16; characters outside the Basic Multilingual Plane become surrogate pairs. Invalid UTF-8 bytes
// become U+FFFD (the texts converted here are the program's own and always valid).
std::u16string utf8ToUtf16(std::string_view text);

// ASCII text (fixed path components and names) to UTF-16.
std::u16string asciiToUtf16(std::string_view ascii);

// Decimal form of a signed or unsigned number, with a leading minus sign when negative.
std::string decimal(long long value);

}  // namespace qmt
