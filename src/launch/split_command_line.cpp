#include <windows.h>

#include <vector>

#include "launch/command_line.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

// The full path of the running executable; empty when it cannot be had.
std::u16string ownExecutablePath(ModuleFileNameCall moduleFileName) {
  std::vector<wchar_t> buffer(512);
  for (;;) {
    const DWORD length = moduleFileName(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::u16string(fromWide(buffer.data(), length));
    // A truncated path fills the whole buffer; paths are far shorter than the 32-bit limit.
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::vector<std::u16string> splitCommandLineWith(const char16_t* commandLine, ModuleFileNameCall moduleFileName) {
  if (commandLine == nullptr || *commandLine == 0) return {ownExecutablePath(moduleFileName)};
  return splitCommandLineText(commandLine);
}

std::vector<std::u16string> splitCommandLine(const char16_t* commandLine) {
  return splitCommandLineWith(commandLine, GetModuleFileNameW);
}

}  // namespace qmt
