#include "location/system_folders.h"

#include <string>

#include "location/directory_attributes.h"
#include "placement/file_access.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

// The system's counted strings hold at most 32767 units with the terminating NUL. Windows refuses a longer path
// with ERROR_FILENAME_EXCED_RANGE; Wine instead wraps the length and may create a folder of a shorter, different
// name while reporting success, so such a path is refused here before it reaches the system.
constexpr std::size_t kLongestSystemPath = 32766;
constexpr std::uint32_t kFilenameExcedRange = 206;

}  // namespace

Expected<void, Error> createOneDirectory(std::u16string_view path, CreateDirectoryCall call) {
  Expected<std::u16string, Error> systemPath = systemPathForm(path, true);
  if (!systemPath) return unexpected(systemPath.error());
  if (systemPath->size() > kLongestSystemPath) return unexpected(Error::system(kFilenameExcedRange));
  if (call(wide(*systemPath), nullptr)) return {};
  return unexpected(Error::system(GetLastError()));
}

Expected<bool, Error> queryDirectory(std::u16string_view path) {
  Expected<FileAttributes, Error> attributes = queryAttributes(path);
  if (!attributes) return unexpected(attributes.error());
  return describesDirectory(*attributes);
}

bool isDirectory(std::u16string_view path) {
  const Expected<bool, Error> directory = queryDirectory(path);
  return directory && *directory;
}

}  // namespace qmt
