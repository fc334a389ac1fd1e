#include "fake_file_system.h"

#include <algorithm>

#include "placement/whole_compare.h"

namespace qmt::testing {
namespace {

std::string shortName(std::u16string_view path) {
  std::size_t slash = path.find_last_of(u"\\/");
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  std::string ascii;
  for (char16_t unit : name) ascii += unit < 0x80 ? static_cast<char>(unit) : '?';
  return ascii;
}

std::u16string parentOf(const std::u16string& path) {
  std::size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

}  // namespace

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

bool FakeFileSystem::injectedFailure() { return failCall && *failCall == log.size() - 1; }

bool FakeFileSystem::folderExists(const std::u16string& path) const { return folders.count(parentOf(path)) != 0; }

PlacementOperations FakeFileSystem::operations() {
  PlacementOperations ops;
  ops.holdsExactly = [this](std::u16string_view path,
                            std::span<const std::uint8_t> content) -> Expected<bool, Error> {
    log.push_back("read " + shortName(path));
    if (injectedFailure()) return unexpected(failError);
    auto found = files.find(std::u16string(path));
    if (found == files.end()) return unexpected(Error::system(2));
    const Bytes& bytes = found->second;
    std::size_t position = 0;
    return compareInPieces(bytes.size(), content, [&](std::uint8_t* buffer, std::size_t length) {
      const std::size_t n = std::min(length, bytes.size() - position);
      std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(position), n, buffer);
      position += n;
      return Expected<std::size_t, Error>(n);
    });
  };
  ops.writeWholeFile = [this](std::u16string_view view,
                              std::span<const std::uint8_t> content) -> Expected<void, Error> {
    std::u16string path(view);
    log.push_back("write " + shortName(path));
    if (!folderExists(path)) return unexpected(Error::system(3));
    if (inUse.count(path)) return unexpected(Error::system(32));
    if (injectedFailure()) {
      files[path] = Bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(content.size() / 2));
      return unexpected(failError);
    }
    files[path] = Bytes(content.begin(), content.end());
    return {};
  };
  ops.isPresent = [this](std::u16string_view path) {
    log.push_back("present " + shortName(path));
    if (injectedFailure()) return false;
    std::u16string p(path);
    return files.count(p) != 0 || folders.count(p) != 0;
  };
  ops.renameFile = [this](std::u16string_view fromView, std::u16string_view toView) -> Expected<void, Error> {
    std::u16string from(fromView), to(toView);
    log.push_back("rename " + shortName(from) + " " + shortName(to));
    if (injectedFailure()) return unexpected(failError);
    auto source = files.find(from);
    if (source == files.end()) return unexpected(Error::system(2));
    if (!folderExists(to)) return unexpected(Error::system(3));
    if (inUse.count(to)) return unexpected(Error::system(5));
    files[to] = std::move(source->second);
    files.erase(from);
    if (inUse.erase(from)) inUse.insert(to);
    return {};
  };
  ops.removeFile = [this](std::u16string_view view) -> Expected<void, Error> {
    std::u16string path(view);
    log.push_back("remove " + shortName(path));
    if (injectedFailure()) return unexpected(failError);
    if (!files.count(path)) return unexpected(Error::system(2));
    if (inUse.count(path)) return unexpected(Error::system(5));
    files.erase(path);
    return {};
  };
  return ops;
}

}  // namespace qmt::testing
