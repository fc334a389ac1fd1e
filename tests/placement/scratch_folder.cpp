#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "runtime/handle.h"
#include "runtime/wide.h"

namespace qmt::testing {
namespace {

std::u16string currentFolder() {
  wchar_t buffer[4096];
  DWORD n = GetCurrentDirectoryW(4096, buffer);
  return std::u16string(fromWide(buffer, n));
}

// Removes a folder and everything in it, long paths included (read-only files too); errors are ignored.
void removeTree(const std::u16string& path) {
  const std::u16string verbatim = path.starts_with(u"\\\\?\\") ? path : u"\\\\?\\" + path;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(wide(verbatim + u"\\*"), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::u16string name(fromWide(entry.cFileName));
      if (name == u"." || name == u"..") continue;
      std::u16string child = verbatim + u"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(child);
      } else {
        SetFileAttributesW(wide(child), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(wide(child));
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(wide(verbatim));
}

}  // namespace

ScratchFolder::ScratchFolder() {
  static std::atomic<int> counter{0};
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  // Process ids repeat between runs under Wine, and a folder may outlive its test while a Wine helper process
  // still holds a handle inherited from it: the clock makes the name unique.
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::string name = std::string("scratch-") + (test ? test->name() : "x") + "-" + std::to_string(now.QuadPart) +
                     "-" + std::to_string(counter++);
  path_ = currentFolder() + u"\\" + std::u16string(name.begin(), name.end());
  removeTree(path_);
  makeFolder(path_);
}

ScratchFolder::~ScratchFolder() { removeTree(path_); }

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

void putFile(const std::u16string& path, const Bytes& content) {
  UniqueHandle file(CreateFileW(wide(path), GENERIC_WRITE, 7, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file) << "cannot create test file, error " << GetLastError();
  DWORD written = 0;
  if (!content.empty()) {
    ASSERT_TRUE(WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
  }
  ASSERT_EQ(written, content.size());
}

bool fileExists(const std::u16string& path) {
  return GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES;
}

Bytes fileContent(const std::u16string& path) {
  UniqueHandle file(CreateFileW(wide(path), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    ADD_FAILURE() << "cannot open test file, error " << GetLastError();
    return {};
  }
  Bytes content(GetFileSize(file.get(), nullptr));
  DWORD read = 0;
  if (!content.empty()) ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
  content.resize(read);
  return content;
}

void makeFolder(const std::u16string& path) {
  ASSERT_TRUE(CreateDirectoryW(wide(path), nullptr)) << "cannot create test folder, error " << GetLastError();
}

std::uint64_t lastWriteTime(const std::u16string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) return 0;
  return (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
}

}  // namespace qmt::testing
