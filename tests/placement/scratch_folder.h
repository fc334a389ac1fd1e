#pragma once
// A fresh, empty folder for one test on the real (Wine) file system, removed with everything in it afterwards,
// and small helpers to make and inspect files there with plain Win32 calls (independent of the code under test).

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qmt::testing {

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder as a drive path (no trailing separator), and a path inside it.
  const std::u16string& path() const { return path_; }
  std::u16string operator/(std::u16string_view name) const { return path_ + u"\\" + std::u16string(name); }

 private:
  std::u16string path_;
};

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text);
// Creates or overwrites a file with `content` (CreateFileW + WriteFile); fails the test on error.
void putFile(const std::u16string& path, const Bytes& content);
// The file's content, or nullopt-like empty with `exists` false when it cannot be opened.
bool fileExists(const std::u16string& path);
Bytes fileContent(const std::u16string& path);
void makeFolder(const std::u16string& path);
std::uint64_t lastWriteTime(const std::u16string& path);

}  // namespace qmt::testing
