#include "launch/path_shapes.h"

namespace qmt {
namespace {

constexpr std::u16string_view kVerbatimPrefix = u"\\\\?\\";
constexpr std::u16string_view kNtPrefix = u"\\??\\";
constexpr std::u16string_view kVerbatimUnc = u"\\\\?\\UNC";

char16_t asciiLower(char16_t unit) { return unit >= u'A' && unit <= u'Z' ? char16_t(unit + (u'a' - u'A')) : unit; }

bool endsWithIgnoringAsciiCase(std::u16string_view path, std::u16string_view lowerSuffix) {
  if (path.size() < lowerSuffix.size()) return false;
  const std::u16string_view tail = path.substr(path.size() - lowerSuffix.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (asciiLower(tail[i]) != lowerSuffix[i]) return false;
  }
  return true;
}

}  // namespace

bool lacksFileName(std::u16string_view program) {
  if (program.empty()) return true;
  const char16_t last = program.back();
  if (program.starts_with(kVerbatimPrefix)) return last == u'\\';
  return last == u'\\' || last == u'/';
}

bool hasExeSuffix(std::u16string_view path) { return endsWithIgnoringAsciiCase(path, u".exe"); }

bool hasBatchSuffix(std::u16string_view path) {
  return endsWithIgnoringAsciiCase(path, u".bat") || endsWithIgnoringAsciiCase(path, u".cmd");
}

bool hasDirectoryPart(std::u16string_view path) { return path.find_first_of(u"\\/") != std::u16string_view::npos; }

bool beginsVerbatim(std::u16string_view path) {
  return path.starts_with(kVerbatimPrefix) || path.starts_with(kNtPrefix);
}

std::optional<std::u16string> applicationShortForm(std::u16string_view program) {
  if (!program.starts_with(kVerbatimPrefix)) return std::nullopt;
  const std::u16string_view rest = program.substr(kVerbatimPrefix.size());
  if (rest.size() >= 3 && rest[1] == u':' && rest[2] == u'\\') return std::u16string(rest);
  if (program.starts_with(u"\\\\?\\UNC\\")) return u"\\" + std::u16string(program.substr(kVerbatimUnc.size()));
  return std::nullopt;
}

std::optional<std::u16string> workingDirectoryShortForm(std::u16string_view directory) {
  if (directory.starts_with(kVerbatimUnc)) return u"\\" + std::u16string(directory.substr(kVerbatimUnc.size()));
  if (directory.starts_with(kVerbatimPrefix)) return std::u16string(directory.substr(kVerbatimPrefix.size()));
  return std::nullopt;
}

}  // namespace qmt
