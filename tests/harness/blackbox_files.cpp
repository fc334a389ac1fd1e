// File helpers for black-box tests: they look at the target folder the way any other program would.
#include <windows.h>

#include <algorithm>

#include "blackbox.h"
#include "runtime/handle.h"

namespace qmt::test {

std::wstring windowsPathOf(std::string_view unixPath) {
  std::wstring path = L"Z:" + utf16Of(unixPath);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::optional<std::string> readBytes(const std::wstring& path) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
  return bytes;
}

bool writeBytes(const std::wstring& path, std::string_view bytes) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::optional<std::uint64_t> lastWriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
}

std::vector<std::wstring> listFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) name.push_back(L'\\');
    names.push_back(std::move(name));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

bool removeTree(const std::wstring& folder) {
  for (const std::wstring& name : listFolder(folder)) {
    std::wstring path = folder + L"\\" + name;
    if (name.back() == L'\\') {
      path.pop_back();
      removeTree(path);
    } else {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    }
  }
  RemoveDirectoryW(folder.c_str());
  return !exists(folder);
}

std::wstring freshFolder(const std::wstring& root, const std::wstring& name) {
  CreateDirectoryW(root.c_str(), nullptr);
  std::wstring folder = root + L"\\" + name;
  // A program left running by an earlier run can keep its folder from being removed: use a new one then.
  for (int attempt = 2; exists(folder) && !removeTree(folder); ++attempt) {
    folder = root + L"\\" + name + L"-" + std::to_wstring(attempt);
  }
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::string utf8Of(std::wstring_view text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
  return result;
}

std::wstring utf16Of(std::string_view text) {
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
  return result;
}

}  // namespace qmt::test
