// Dies in the middle of writing the new version of a placed file, as a setup ended by the user or the system
// would:  placement_interrupted TARGET_PATH   (ASCII path). Writes a third of the first write, then the process
// ends at once with exit code 9; it never returns from placeFile.
#include <windows.h>

#include <string>
#include <vector>

#include "placement/file_system_calls.h"
#include "placement/place_file.h"

namespace {

qmt::Expected<std::size_t, qmt::Error> dyingTransfer(qmt::TransferDirection direction, HANDLE file,
                                                     std::uint8_t* buffer, std::size_t length) {
  if (direction == qmt::TransferDirection::Read) return qmt::synchronousTransfer(direction, file, buffer, length);
  (void)qmt::synchronousTransfer(direction, file, buffer, length / 3);
  TerminateProcess(GetCurrentProcess(), 9);
  return std::size_t{0};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string narrow = argv[1];
  std::u16string target(narrow.begin(), narrow.end());
  std::vector<std::uint8_t> content(300000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i % 251);
  qmt::fileSystemCalls().transfer = dyingTransfer;
  (void)qmt::placeFile(target, content);
  return 3;
}
