#include "launch_test_support.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "runtime/wide.h"

namespace qmt::test {

std::u16string winePath(const char* unixPath) {
  std::u16string path = u"Z:";
  for (const char* p = unixPath; *p != 0; ++p) path.push_back(*p == '/' ? u'\\' : char16_t(static_cast<unsigned char>(*p)));
  return path;
}

void createFolders(const std::u16string& path) {
  for (std::size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == u'\\') CreateDirectoryW(wide(path.substr(0, i)), nullptr);
  }
}

std::u16string workFolder() {
  static const std::u16string folder = [] {
    std::u16string f = winePath(QMT_LAUNCH_WORK_DIR);
    createFolders(f);
    return f;
  }();
  return folder;
}

std::u16string reporterPath() { return winePath(QMT_ARGV_REPORTER); }
std::u16string starterPath() { return winePath(QMT_STD_STARTER); }

std::string fileBytes(const std::u16string& path) {
  const HANDLE file = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

namespace {

class ReportReader {
 public:
  explicit ReportReader(std::u16string_view units) : units_(units) {}

  std::optional<std::u16string> record() {
    if (units_.size() - position_ < 2) return std::nullopt;
    const std::uint32_t n = units_[position_] | (std::uint32_t(units_[position_ + 1]) << 16);
    position_ += 2;
    if (units_.size() - position_ < n) return std::nullopt;
    std::u16string text(units_.substr(position_, n));
    position_ += n;
    return text;
  }

  std::optional<std::vector<std::u16string>> list() {
    auto count = record();
    if (!count) return std::nullopt;
    const int n = std::stoi(std::string(count->begin(), count->end()));
    std::vector<std::u16string> elements;
    for (int i = 0; i < n; ++i) {
      auto element = record();
      if (!element) return std::nullopt;
      elements.push_back(std::move(*element));
    }
    return elements;
  }

  bool atEnd() const { return position_ == units_.size(); }

 private:
  std::u16string_view units_;
  std::size_t position_ = 0;
};

}  // namespace

std::optional<Report> readReport(const std::u16string& path) {
  const std::string bytes = fileBytes(path);
  if (bytes.empty() || bytes.size() % 2 != 0) return std::nullopt;
  std::u16string units(bytes.size() / 2, u'\0');
  std::memcpy(units.data(), bytes.data(), bytes.size());
  ReportReader reader(units);
  auto commandLine = reader.record();
  auto crtArgv = reader.list();
  auto shellArgv = reader.list();
  auto directory = reader.record();
  auto handles = reader.record();
  if (!commandLine || !crtArgv || !shellArgv || !directory || !handles || !reader.atEnd()) return std::nullopt;
  return Report{*commandLine, *crtArgv, *shellArgv, *directory, *handles};
}

DWORD waitForExit(HANDLE process) {
  WaitForSingleObject(process, 20000);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return code;
}

std::u16string prepareReport(const std::u16string& name) {
  const std::u16string path = workFolder() + u"\\" + name + u".report";
  DeleteFileW(wide(path));
  SetEnvironmentVariableW(L"QMT_REPORT_FILE", wide(path));
  return path;
}

}  // namespace qmt::test
