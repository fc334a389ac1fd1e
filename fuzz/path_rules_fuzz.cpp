// Fuzzes the path rules (joining, parent, root and share detection) and the conversion into the form handed to
// the system (the extended-length rewrite), with properties that hold for every input:
//  - a parent is a strict leading part of its path, and taking parents ends within as many steps as the path has
//    units;
//  - joining a plain name keeps every unit of the base and the name; taking the parent of the result gives the
//    base back, apart from the trailing separators and "." components that the parent rule disregards;
//  - the system form of a path is the path itself, or the full path with the documented extended-length prefix;
//    a relative or over-long path always becomes an absolute extended-length one; a NUL fails before resolving.
//
// Input: one byte of flags, then little-endian UTF-16 units. The units before the first NUL are the path, those
// after it the name to join (when it is a plain name; otherwise "programme").

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "location/path_rules.h"
#include "placement/system_path.h"

namespace {

using std::u16string;
using std::u16string_view;

constexpr u16string_view kVerbatim = u"\\\\?\\";

void fail(const char* property) {
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

void require(bool holds, const char* property) {
  if (!holds) fail(property);
}

bool isSlashOrBackslash(char16_t unit) { return unit == u'\\' || unit == u'/'; }
bool isAsciiLetter(char16_t unit) { return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z'); }

u16string unitsOf(const std::uint8_t* data, std::size_t size) {
  u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return units;
}

// A name without separators, drive colon or NUL that is not ".": what the setup joins onto folders.
bool isPlainName(u16string_view name) {
  if (name.empty() || name == u".") return false;
  return name.find_first_of(u"\\/:\0", 0, 4) == u16string_view::npos;
}

// The components of `path` split at separators (only the backslash in extended-length form), empty ones dropped.
std::size_t componentCount(u16string_view path, bool verbatim) {
  std::size_t count = 0;
  bool inComponent = false;
  for (char16_t unit : path) {
    const bool separator = unit == u'\\' || (!verbatim && unit == u'/');
    if (!separator && !inComponent) ++count;
    inComponent = !separator;
  }
  return count;
}

// Whether `rest` holds nothing but separators and "." components.
bool onlySeparatorsAndDots(u16string_view rest) {
  std::size_t at = 0;
  while (at < rest.size()) {
    std::size_t end = at;
    while (end < rest.size() && !isSlashOrBackslash(rest[end])) ++end;
    const u16string_view component = rest.substr(at, end - at);
    if (!component.empty() && component != u".") return false;
    at = end + 1;
  }
  return true;
}

void checkParentWalk(u16string_view path) {
  u16string_view current = path;
  for (std::size_t steps = 0;; ++steps) {
    require(steps <= path.size(), "taking parents ends within as many steps as the path has units");
    const std::optional<u16string_view> parent = qmt::parentPath(current);
    if (!parent) return;
    require(parent->size() < current.size(), "a parent is shorter than its path");
    require(parent->empty() || parent->data() == current.data(), "a parent is a view of its path's start");
    require(current.substr(0, parent->size()) == *parent, "a parent is a leading part of its path");
    current = *parent;
  }
}

void checkJoin(u16string_view base, u16string_view name) {
  const u16string joined = qmt::joinPath(base, name);
  const bool verbatim = base.starts_with(kVerbatim);
  if (verbatim) {
    // Rebuilt from components: exactly the units of base and name, with only backslashes added or dropped.
    u16string kept, expected;
    for (char16_t unit : joined) if (unit != u'\\') kept += unit;
    for (char16_t unit : base) if (unit != u'\\') expected += unit;
    expected += name;
    require(kept == expected, "joining in extended-length form keeps every unit but backslashes");
  } else {
    require(joined.starts_with(base) && joined.ends_with(name), "joining keeps base and name unchanged");
    const std::size_t added = joined.size() - base.size() - name.size();
    require(added == 0 || (added == 1 && joined[base.size()] == u'\\'), "joining adds at most one backslash");
  }

  const std::optional<u16string_view> parent = qmt::parentPath(joined);
  if (!parent) {
    // Only a name directly below a server or volume prefix (\\server\name, \\?\UNC\server\name) has no parent.
    const u16string_view body = verbatim ? u16string_view(joined).substr(kVerbatim.size()) : joined;
    require(joined.size() >= 2 && isSlashOrBackslash(joined[0]) && isSlashOrBackslash(joined[1]),
            "a joined path without parent begins with two separators");
    require(componentCount(body, verbatim) <= (verbatim ? 3 : 2), "a joined path without parent is a root");
    return;
  }
  if (verbatim) {
    require(qmt::joinPath(*parent, name) == joined, "the parent of a joined path is its base (extended form)");
    return;
  }
  const bool baseGivenBack = base.starts_with(*parent) && onlySeparatorsAndDots(base.substr(parent->size()));
  const bool shareRootCompleted = *parent == u16string(base) + u'\\';
  require(baseGivenBack || shareRootCompleted, "the parent of a joined path is its base");
}

// A stand-in for GetFullPathNameW: separators become backslashes; rooted paths go to drive Z:, paths relative to
// a drive letter to that drive's root and other relative ones to the folder Z:\work; paths with two leading
// separators stay server or device paths. It fails for paths beginning with "!", so that its error is seen to
// pass through.
struct ModelResolver {
  bool called = false;
  qmt::Expected<u16string, qmt::Error> operator()(const u16string& path) {
    called = true;
    if (path.starts_with(u"!")) return qmt::unexpected(qmt::Error::system(123));
    u16string normal = path;
    for (char16_t& unit : normal) if (unit == u'/') unit = u'\\';
    if (normal.starts_with(u"\\\\")) return normal;
    if (normal.starts_with(u"\\")) return u"Z:" + normal;
    if (normal.size() >= 2 && isAsciiLetter(normal[0]) && normal[1] == u':') {
      return normal.size() >= 3 && normal[2] == u'\\' ? normal : normal.substr(0, 2) + u'\\' + normal.substr(2);
    }
    return u"Z:\\work\\" + normal;
  }
};

bool isExtendedAbsolute(u16string_view path) {
  if (!path.starts_with(kVerbatim)) return false;
  const u16string_view rest = path.substr(kVerbatim.size());
  return rest.starts_with(u"UNC\\") || (rest.size() >= 3 && rest[1] == u':' && rest[2] == u'\\');
}

void checkSystemForm(const u16string& path, bool preferVerbatim) {
  ModelResolver model;
  const auto result =
      qmt::systemPathFormWith(path, preferVerbatim, [&model](const u16string& p) { return model(p); });
  if (path.find(u'\0') != u16string::npos) {
    require(!result && result.error() == qmt::Error::of(qmt::ErrorKind::NulInPath) && !model.called,
            "a NUL fails before anything is resolved");
    return;
  }
  if (!model.called) {
    require(result && *result == path, "a path that is not resolved passes unchanged");
    require(path.empty() || path.starts_with(kVerbatim) || path.starts_with(u"\\??\\") ||
                path.size() + 1 < qmt::kLegacyPathLimit,
            "an over-long path is resolved");
    return;
  }
  ModelResolver again;
  const auto full = again(path);
  if (!full) {
    require(!result && result.error() == full.error(), "the resolver's error is the conversion's");
    return;
  }
  require(result.has_value(), "a resolved path converts");
  const bool extended = preferVerbatim || full->size() + 1 >= qmt::kLegacyPathLimit;
  if (!extended) {
    require(*result == *full, "a short full path is handed over as it is");
    return;
  }
  // The documented rewrites of a full path: \\?\ before a drive path, \\?\ in place of \\.\ and \\?\UNC\ in
  // place of the leading \\ of a server path; nothing else changes.
  u16string expected;
  if (full->starts_with(u"\\\\.\\")) {
    expected = u16string(kVerbatim) + full->substr(4);
  } else if (full->starts_with(kVerbatim) || full->starts_with(u"\\??\\")) {
    expected = *full;
  } else if (full->starts_with(u"\\\\")) {
    expected = u"\\\\?\\UNC\\" + full->substr(2);
  } else if (full->size() >= 3 && isAsciiLetter((*full)[0]) && (*full)[1] == u':' && (*full)[2] == u'\\') {
    expected = u16string(kVerbatim) + *full;
  } else {
    expected = *full;
  }
  require(*result == expected, "the extended-length form is the full path with its documented prefix");
  // Full paths of devices (\\.\, \\?\, \??\) keep their own shape; every other relative or over-long path ends
  // up as an absolute drive or server path in extended-length form.
  const bool device = full->starts_with(u"\\\\.\\") || full->starts_with(kVerbatim) || full->starts_with(u"\\??\\");
  const bool relative = !isSlashOrBackslash(path[0]);
  if ((relative || path.size() + 1 >= qmt::kLegacyPathLimit) && !device) {
    require(isExtendedAbsolute(*result), "a relative or over-long path becomes an absolute extended-length path");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  const u16string units = unitsOf(data + 1, size - 1);
  const std::size_t nul = units.find(u'\0');
  const u16string_view path = u16string_view(units).substr(0, nul);
  const u16string_view tail = nul == u16string::npos ? u16string_view() : u16string_view(units).substr(nul + 1);
  const u16string_view name = isPlainName(tail) ? tail : u"programme";

  checkParentWalk(path);
  checkJoin(path, name);
  // With flag bit 0 the whole input, NULs included, is converted; bit 1 prefers the extended-length form.
  checkSystemForm((flags & 1) ? units : u16string(path), (flags & 2) != 0);
  return 0;
}
