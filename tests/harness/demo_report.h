#pragma once
// Reads the report of the demo Quillmart.exe (payload/demo/app.cpp): when QMT_DEMO_REPORT names a file, the demo
// writes it as UTF-16LE without a BOM, one "key=value" record per entry, each ended by exactly one NUL unit. Values
// are kept as the exact UTF-16 units written (unpaired surrogates included). Header-only, for native and Windows
// tests alike.
//
// Keys: commandLine, cwd, crtArgc, crtArg<i>, shellArgc, shellArg<i>, env.QMT_DATA (absent when unset), stdin,
// stdout, stderr (none/disk/pipe/char/unknown), loader (the stand-in loader's HRESULT, "0x%08X"), edition (which
// of the demo's two builds wrote it: "1" is the default payload's, "2" the one made for update tests).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qmt::testing {

class DemoReport {
 public:
  // nullopt when the bytes are not a well-formed report: an odd byte count, a record without '=' or with an empty or
  // non-ASCII key, a key given twice, or a last record without its NUL.
  static std::optional<DemoReport> parse(std::span<const std::uint8_t> bytes) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    DemoReport report;
    std::u16string record;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
      const auto unit = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
      if (unit != u'\0') {
        record += unit;
        continue;
      }
      const std::size_t equals = record.find(u'=');
      if (equals == std::u16string::npos || equals == 0) return std::nullopt;
      std::string key;
      for (std::size_t k = 0; k < equals; ++k) {
        if (record[k] > 0x7E || record[k] < 0x20) return std::nullopt;
        key += static_cast<char>(record[k]);
      }
      if (!report.values_.emplace(key, record.substr(equals + 1)).second) return std::nullopt;
      record.clear();
    }
    if (!record.empty()) return std::nullopt;
    return report;
  }

  // Reads and parses the file; nullopt when it is missing or malformed.
  static std::optional<DemoReport> load(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return parse(bytes);
  }

  bool has(const std::string& key) const { return values_.count(key) != 0; }
  // The value's exact units; empty when the key is absent (use has() to tell the two apart).
  std::u16string value(const std::string& key) const {
    const auto found = values_.find(key);
    return found == values_.end() ? std::u16string() : found->second;
  }
  // An ASCII value (counts, handle kinds, the HRESULT) as a narrow string; units above 0x7F become '?'.
  std::string ascii(const std::string& key) const {
    std::string out;
    for (char16_t unit : value(key)) out += unit < 0x80 ? static_cast<char>(unit) : '?';
    return out;
  }
  // crtArg0..crtArg<crtArgc-1> (prefix "crt") or shellArg0.. (prefix "shell"); nullopt when the count is missing or
  // an argument record is.
  std::optional<std::vector<std::u16string>> arguments(const std::string& prefix) const {
    const std::string count = ascii(prefix + "Argc");
    if (count.empty() || count.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    std::vector<std::u16string> args;
    for (unsigned long i = 0, n = std::stoul(count); i < n; ++i) {
      const std::string key = prefix + "Arg" + std::to_string(i);
      if (!has(key)) return std::nullopt;
      args.push_back(value(key));
    }
    return args;
  }
  const std::map<std::string, std::u16string>& values() const { return values_; }

 private:
  std::map<std::string, std::u16string> values_;
};

}  // namespace qmt::testing
