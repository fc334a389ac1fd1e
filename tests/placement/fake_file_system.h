#pragma once
// An in-memory file system behind PlacementOperations, modelled on what the real one does with the files of a
// placement: files in folders, files in use that can be renamed away but not replaced or deleted (a running
// program), and failures injected at chosen calls. It logs every call so tests can check the order of the steps.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "placement/place_file_steps.h"

namespace qmt::testing {

using Bytes = std::vector<std::uint8_t>;

class FakeFileSystem {
 public:
  std::map<std::u16string, Bytes> files;
  std::set<std::u16string> folders;  // a file can be created or moved only into one of these
  std::set<std::u16string> inUse;    // files that cannot be replaced or deleted, but can be renamed
  std::vector<std::string> log;      // "read T", "write N", "present T", "rename N T", "remove A" (names shortened)

  // Makes the call with this index (0-based, counting every operation) fail with `error`; a failing write
  // leaves half of the content in the file.
  std::optional<std::size_t> failCall;
  Error failError = Error::system(5);

  // Folder and file names are shortened in the log to the last component.
  PlacementOperations operations();

 private:
  bool injectedFailure();
  bool folderExists(const std::u16string& path) const;
};

Bytes bytesOf(std::string_view text);

}  // namespace qmt::testing
