#pragma once
// Runs a Windows program the way a user would and observes it from outside: its exit status and the one message
// box titled "Quillmart" that it may show, whose text is read back exactly and which is closed with OK.
// Used by the black-box tests of Quillmart-Setup.exe, which run under Wine with an Xvfb display.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmt::test {

// One change to the environment a program is started with: set `name` to `value` (any UTF-16 units, unpaired
// surrogates included), or remove `name` when `value` is empty (std::nullopt).
struct EnvChange {
  std::wstring name;
  std::optional<std::wstring> value;
};
EnvChange setVariable(std::wstring name, std::wstring value);
EnvChange unsetVariable(std::wstring name);

struct SetupRun {
  std::wstring exe;                          // application name handed to CreateProcessW
  std::wstring commandLine;                  // raw command line; empty: the quoted exe alone
  std::vector<EnvChange> env;                // applied to this process's environment, in order
  std::wstring workingDirectory;             // empty: this process's current folder
  DWORD creationFlags = 0;                   // e.g. DETACHED_PROCESS
  std::optional<std::wstring> stdoutFile;    // redirect the program's standard output alone to this file
  bool closeBox = true;                      // false: read the box but leave it open
  DWORD timeoutMs = 30000;                   // after this the program is ended and timedOut is set
};

struct SetupOutcome {
  DWORD exitCode = 0;                        // full 32-bit status from GetExitCodeProcess
  std::optional<std::wstring> boxText;       // text of the program's "Quillmart" box, if it showed one
  bool timedOut = false;
  DWORD startError = 0;                      // GetLastError of CreateProcessW when the program did not start
};

// Starts the program, then waits until it exits; a "Quillmart" message box (dialog class #32770) owned by that
// process is read and, when `closeBox` is set, closed with OK. Never waits longer than `timeoutMs`: then the
// process is terminated. Boxes of other processes are left alone.
SetupOutcome runSetupExe(const SetupRun& run);

// Calls `startOnce`, which starts `program` and returns 0 or the GetLastError of a start that failed, and calls it
// again while Wine answers ERROR_INTERNAL_ERROR: Wine's answer when the new process died in Wine's own start-up,
// before any of the program ran (rare, mostly on a busy machine). At most three calls; on Windows, which documents
// no such failure, one. Returns the last answer. runSetupExe starts every program through it.
DWORD startRetryingWineStartup(std::wstring_view program, const std::function<DWORD()>& startOnce);

// Finds a visible "Quillmart" message box, of the given process or (pid 0) of any process; NULL when none.
HWND findQuillmartBox(DWORD pid = 0);
// The exact text of a message box (its static control 0xFFFF).
std::wstring boxText(HWND box);
// Presses OK on a message box.
void pressOk(HWND box);

// Quotes one argument so that CommandLineToArgvW and the C runtime read it back unchanged.
std::wstring quoteArgument(std::wstring_view argument);
// The quoted arguments joined by blanks.
std::wstring commandLineOf(const std::vector<std::wstring>& arguments);

// This process's environment with the changes applied, as a CreateProcessW block (CREATE_UNICODE_ENVIRONMENT):
// entries "NAME=VALUE" each ending in 0, then one more 0. Names compare case-insensitively, as Windows does;
// entries that are not changed keep their order.
std::vector<wchar_t> environmentBlockWith(const std::vector<EnvChange>& changes);

// Windows path of a Unix path as Wine sees it: Z: followed by the path with backslashes.
std::wstring windowsPathOf(std::string_view unixPath);

// Files.
std::optional<std::string> readBytes(const std::wstring& path);
bool writeBytes(const std::wstring& path, std::string_view bytes);
bool exists(const std::wstring& path);
// Last-write time as 100-ns units since 1601; nullopt when the path cannot be queried.
std::optional<std::uint64_t> lastWriteTime(const std::wstring& path);
// Names in a folder, sorted, without "." and ".."; folders end in a backslash.
std::vector<std::wstring> listFolder(const std::wstring& folder);
// Removes a folder with everything in it; true when it is gone afterwards.
bool removeTree(const std::wstring& folder);

// A fresh empty folder `root`\`name` (an older one of that name is removed first, or a numbered sibling is used
// when it cannot be). The folder exists when this returns.
std::wstring freshFolder(const std::wstring& root, const std::wstring& name);

// UTF-8 <-> UTF-16 for messages and file contents in tests (unpaired surrogates become U+FFFD).
std::string utf8Of(std::wstring_view text);
std::wstring utf16Of(std::string_view text);

}  // namespace qmt::test
