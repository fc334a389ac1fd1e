// Fuzzes command-line splitting and its inverse.
//
// The input is read as little-endian UTF-16 units. First, the units are split as a command line held in a buffer
// of exactly their length plus the terminating NUL, so that reading past it is caught by the address sanitizer.
// Then the units are cut at each NUL into a program path (quote characters removed) and arguments; building a
// command line from them and splitting it again must give back the program and every argument, unit for unit.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "launch/command_line.h"

namespace {

std::u16string unitsOf(const std::uint8_t* data, std::size_t size) {
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return units;
}

void splitExactBuffer(const std::u16string& units) {
  const std::size_t length = units.find(u'\0') == std::u16string::npos ? units.size() : units.find(u'\0');
  auto line = std::make_unique<char16_t[]>(length + 1);
  units.copy(line.get(), length);
  line[length] = u'\0';
  const auto parts = qmt::splitCommandLineText(line.get());
  if (parts.empty()) std::abort();
}

void checkRoundTrip(const std::u16string& units) {
  std::vector<std::u16string> fields(1);
  for (const char16_t unit : units) {
    if (unit == u'\0') {
      fields.emplace_back();
    } else {
      fields.back().push_back(unit);
    }
  }
  std::u16string program;
  for (const char16_t unit : fields.front()) {
    if (unit != u'"') program.push_back(unit);
  }
  const std::vector<std::u16string> arguments(fields.begin() + 1, fields.end());
  auto line = qmt::buildCommandLine(program, arguments);
  if (!line) std::abort();  // no argument holds a NUL here
  std::vector<std::u16string> expected{program};
  expected.insert(expected.end(), arguments.begin(), arguments.end());
  if (qmt::splitCommandLineText(line->c_str()) != expected) {
    std::fprintf(stderr, "split does not give back what build wrote\n");
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string units = unitsOf(data, size);
  splitExactBuffer(units);
  checkRoundTrip(units);
  return 0;
}
