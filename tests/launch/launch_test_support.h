#pragma once
// Shared helpers of the Windows launch tests: paths of the helper programs and work folder, and the report that
// argv_reporter writes.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace qmt::test {

// A Unix path of the build as Wine sees it (Z: followed by the path with backslashes).
std::u16string winePath(const char* unixPath);

// The test work folder (created on first use, emptied by nobody: each test uses its own names).
std::u16string workFolder();

// Paths of the helper programs.
std::u16string reporterPath();
std::u16string starterPath();

// Creates `path` and its missing parents.
void createFolders(const std::u16string& path);

// What argv_reporter recorded about its start.
struct Report {
  std::u16string commandLine;
  std::vector<std::u16string> crtArgv;
  std::vector<std::u16string> shellArgv;
  std::u16string currentDirectory;
  std::u16string stdHandles;  // '0'/'1' for input, output, error
};

// Reads and parses the report at `path`; nullopt when it is missing or malformed.
std::optional<Report> readReport(const std::u16string& path);

// Waits up to 20 s for `process` and returns its exit code (STILL_ACTIVE when it did not end).
DWORD waitForExit(HANDLE process);

// Sets QMT_REPORT_FILE to a fresh report path named after `name` (an old report is deleted) and returns it.
std::u16string prepareReport(const std::u16string& name);

// The whole content of a file as bytes ("" when it cannot be read).
std::string fileBytes(const std::u16string& path);

}  // namespace qmt::test
