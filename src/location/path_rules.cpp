#include "location/path_rules.h"

#include <cstddef>

namespace qmt {
namespace {

constexpr std::u16string_view kVerbatimPrefix = u"\\\\?\\";

bool isSeparator(char16_t c, bool verbatim) { return c == u'\\' || (!verbatim && c == u'/'); }

bool isDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool isBareDrive(std::u16string_view s) { return s.size() == 2 && isDriveLetter(s[0]) && s[1] == u':'; }

// Two leading separators, in any mix: the system reads //server/share and \\server\share alike.
bool beginsWithTwoSeparators(std::u16string_view s) {
  return s.size() >= 2 && isSeparator(s[0], false) && isSeparator(s[1], false);
}

// A local device path (\\.\, or //./ and other mixes of separators).
bool beginsAsDevice(std::u16string_view s) {
  return beginsWithTwoSeparators(s) && s.size() >= 4 && s[2] == u'.' && isSeparator(s[3], false);
}

// The leading part of a path that names a volume or device rather than a folder in it, and whether the path is in
// extended-length form.
struct PathPrefix {
  std::size_t length = 0;
  bool verbatim = false;
};

// Length of the component that starts at `from`: up to the next separator or the end.
std::size_t componentLength(std::u16string_view path, std::size_t from, bool verbatim) {
  std::size_t end = from;
  while (end < path.size() && !isSeparator(path[end], verbatim)) ++end;
  return end - from;
}

// Server and share after a leading pair of separators: their combined length with the separator between them, and
// whether both are named (a share root needs both).
struct ServerShare {
  std::size_t length = 0;
  bool complete = false;
};

ServerShare serverAndShare(std::u16string_view path, std::size_t from, bool verbatim) {
  const std::size_t server = componentLength(path, from, verbatim);
  if (from + server >= path.size()) return {server, false};
  const std::size_t share = componentLength(path, from + server + 1, verbatim);
  if (share == 0) return {server, false};
  return {server + 1 + share, server > 0};
}

PathPrefix parsePrefix(std::u16string_view path) {
  if (path.starts_with(kVerbatimPrefix)) {
    const std::size_t start = kVerbatimPrefix.size();
    if (path.substr(start).starts_with(u"UNC\\")) {
      return {start + 4 + serverAndShare(path, start + 4, true).length, true};
    }
    return {start + componentLength(path, start, true), true};
  }
  if (beginsAsDevice(path)) return {4 + componentLength(path, 4, false), false};
  if (beginsWithTwoSeparators(path)) {
    const ServerShare share = serverAndShare(path, 2, false);
    return {share.complete ? 2 + share.length : 0, false};
  }
  if (path.size() >= 2 && isDriveLetter(path[0]) && path[1] == u':') return {2, false};
  return {};
}

// Where the folder components begin: after the prefix and a root separator, if there is one.
std::size_t bodyStart(std::u16string_view path, const PathPrefix& prefix) {
  if (prefix.length < path.size() && isSeparator(path[prefix.length], prefix.verbatim)) return prefix.length + 1;
  return prefix.length;
}

std::u16string rebuildVerbatim(std::u16string_view base, std::u16string_view name) {
  const PathPrefix prefix = parsePrefix(base);
  std::u16string joined(base.substr(0, prefix.length));
  bool separatorDue = !joined.empty() && joined.back() != u'\\';
  auto add = [&](std::u16string_view component) {
    if (separatorDue) joined += u'\\';
    joined += component;
    separatorDue = true;
  };
  std::size_t at = prefix.length;
  while (at < base.size()) {
    const std::size_t length = componentLength(base, at, true);
    if (length > 0) add(base.substr(at, length));
    at += length + 1;
  }
  add(name);
  return joined;
}

}  // namespace

std::u16string joinPath(std::u16string_view base, std::u16string_view name) {
  if (base.starts_with(kVerbatimPrefix) && !name.empty()) return rebuildVerbatim(base, name);
  std::u16string joined;
  joined.reserve(base.size() + 1 + name.size());
  joined += base;
  if (!base.empty() && !isSeparator(base.back(), false) && !isBareDrive(base)) joined += u'\\';
  joined += name;
  return joined;
}

std::optional<std::u16string_view> parentPath(std::u16string_view path) {
  const PathPrefix prefix = parsePrefix(path);
  const std::size_t start = bodyStart(path, prefix);
  std::size_t end = path.size();
  // The start of the component that ends at `end`.
  auto componentStart = [&](std::size_t componentEnd) {
    std::size_t at = componentEnd;
    while (at > start && !isSeparator(path[at - 1], prefix.verbatim)) --at;
    return at;
  };
  // Drops trailing separators and "." components, never the prefix or root.
  auto trimTail = [&] {
    while (end > start) {
      if (isSeparator(path[end - 1], prefix.verbatim)) {
        --end;
        continue;
      }
      const std::size_t at = componentStart(end);
      if (prefix.verbatim || end - at != 1 || path[at] != u'.') break;
      end = at;
    }
  };
  trimTail();
  if (end == start) return std::nullopt;
  end = componentStart(end);
  trimTail();
  return path.substr(0, end);
}

}  // namespace qmt
