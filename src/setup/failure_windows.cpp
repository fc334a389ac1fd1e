// Descriptions of errors, from the system's message tables where the error is a Windows code.
#include <windows.h>

#include "runtime/wide.h"
#include "setup/failure.h"
#include "setup/system_error_text.h"

namespace qmt {

std::string formatSystemErrorWith(std::int32_t code, FormatMessageFunction format) {
  HMODULE ntdll = nullptr;
  if ((static_cast<std::uint32_t>(code) & kNtFacilityBit) != 0) ntdll = GetModuleHandleW(L"NTDLL.DLL");
  MessageRequest request = messageRequestFor(code, ntdll != nullptr);

  // Language 0 lets the system choose, so its text is in the user's Windows language.
  wchar_t buffer[kMessageBufferUnits];
  DWORD units = format(request.flags, request.fromNtdll ? ntdll : nullptr, static_cast<DWORD>(request.messageNumber),
                       0, buffer, kMessageBufferUnits, nullptr);
  if (units == 0) return composeSystemErrorText(code, request, std::nullopt, GetLastError());
  return composeSystemErrorText(code, request, fromWide(buffer, units), 0);
}

std::string formatSystemError(std::int32_t code) { return formatSystemErrorWith(code, FormatMessageW); }

std::string describeError(const Error& error) {
  if (error.kind == ErrorKind::System) return formatSystemError(static_cast<std::int32_t>(error.code));
  return std::string(fixedErrorText(error.kind));
}

SetupFailure prefixedFailure(std::string_view prefix, const Error& error) {
  std::string text(prefix);
  text += describeError(error);
  return SetupFailure{std::move(text)};
}

}  // namespace qmt
