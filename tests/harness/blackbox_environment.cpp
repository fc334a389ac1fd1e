// Command lines and environment blocks for the programs a black-box test starts.
#include <windows.h>

#include "blackbox.h"

namespace qmt::test {
namespace {

// The name part of an environment entry. Entries such as "=C:=C:\x" start with '=', which belongs to the name.
std::wstring_view nameOf(std::wstring_view entry) {
  std::size_t equals = entry.find(L'=', 1);
  return entry.substr(0, equals == std::wstring_view::npos ? entry.size() : equals);
}

bool sameName(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::vector<std::wstring> currentEnvironment() {
  std::vector<std::wstring> entries;
  wchar_t* block = GetEnvironmentStringsW();
  if (block == nullptr) return entries;
  for (const wchar_t* p = block; *p != L'\0';) {
    std::wstring entry(p);
    p += entry.size() + 1;
    entries.push_back(std::move(entry));
  }
  FreeEnvironmentStringsW(block);
  return entries;
}

void apply(std::vector<std::wstring>& entries, const EnvChange& change) {
  std::erase_if(entries, [&](const std::wstring& e) { return sameName(nameOf(e), change.name); });
  if (change.value) entries.push_back(change.name + L"=" + *change.value);
}

}  // namespace

EnvChange setVariable(std::wstring name, std::wstring value) { return {std::move(name), std::move(value)}; }
EnvChange unsetVariable(std::wstring name) { return {std::move(name), std::nullopt}; }

std::vector<wchar_t> environmentBlockWith(const std::vector<EnvChange>& changes) {
  std::vector<std::wstring> entries = currentEnvironment();
  for (const EnvChange& change : changes) apply(entries, change);
  std::vector<wchar_t> block;
  for (const std::wstring& entry : entries) {
    block.insert(block.end(), entry.begin(), entry.end());
    block.push_back(L'\0');
  }
  // An empty block still needs its two terminating units.
  if (block.empty()) block.push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

std::wstring quoteArgument(std::wstring_view argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
    return std::wstring(argument);
  }
  // Backslashes are literal except before a quote; there, and before the closing quote, they are doubled.
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

std::wstring commandLineOf(const std::vector<std::wstring>& arguments) {
  std::wstring line;
  for (const std::wstring& argument : arguments) {
    if (!line.empty()) line.push_back(L' ');
    line += quoteArgument(argument);
  }
  return line;
}

}  // namespace qmt::test
