#include <windows.h>

#include <vector>

#include "launch/command_line.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

// The full path of the running executable; empty when it cannot be had.
std::u16string ownExecutablePath() {
  std::vector<wchar_t> buffer(512);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::u16string(fromWide(buffer.data(), length));
    // A truncated path fills the whole buffer; paths are far shorter than the 32-bit limit.
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::vector<std::u16string> splitCommandLine(const char16_t* commandLine) {
  if (commandLine == nullptr || *commandLine == 0) return {ownExecutablePath()};
  return splitCommandLineText(commandLine);
}

}  // namespace qmt
