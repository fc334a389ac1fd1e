#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launch/command_line.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

TEST(SplitCommandLineWindowsTest, NullOrEmptyLineIsTheOwnExecutable) {
  wchar_t own[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH * 4);
  ASSERT_GT(length, 3u);
  const std::vector<std::u16string> expected{std::u16string(fromWide(own, length))};
  EXPECT_EQ(splitCommandLine(nullptr), expected);
  EXPECT_EQ(splitCommandLine(u""), expected);
}

// GetModuleFileNameW as Windows documents it for a program run from `gOwnPath`: the path and its NUL when the
// buffer has room for both; otherwise as much as fits with a NUL, ERROR_INSUFFICIENT_BUFFER and the buffer's size.
std::u16string gOwnPath;
std::vector<DWORD> gAskedSizes;
DWORD WINAPI scriptedModuleFileName(HMODULE module, LPWSTR buffer, DWORD size) {
  EXPECT_EQ(module, nullptr);
  gAskedSizes.push_back(size);
  const std::size_t copied = std::min<std::size_t>(gOwnPath.size(), size - 1);
  std::copy_n(gOwnPath.begin(), copied, buffer);
  buffer[copied] = 0;
  if (copied == gOwnPath.size()) return static_cast<DWORD>(copied);
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

// A program run from a path as long as the first buffer for its own name or longer gets its whole path for an
// empty line. Wine starts no program from a path of MAX_PATH units or more, so the path comes through the seam.
TEST(SplitCommandLineWindowsTest, OwnPathOf512UnitsOrMoreIsWholeThroughSeam) {
  const struct {
    std::size_t units;
    std::vector<DWORD> asked;
  } cases[] = {{511, {512}}, {512, {512, 1024}}, {1500, {512, 1024, 2048}}};
  for (const auto& c : cases) {
    gOwnPath = u"C:\\" + std::u16string(c.units - 9, u'p') + u"\\Q.exe";
    gAskedSizes.clear();
    EXPECT_EQ(splitCommandLineWith(u"", scriptedModuleFileName), std::vector<std::u16string>{gOwnPath}) << c.units;
    EXPECT_EQ(gAskedSizes, c.asked) << c.units;
  }
}

TEST(SplitCommandLineWindowsTest, OwnCommandLineStartsWithTheProgram) {
  const auto parts = splitCommandLine(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  ASSERT_GE(parts.size(), 2u);  // CTest passes --gtest_color=no
  EXPECT_NE(parts[0].find(u"launch_windows_tests"), std::u16string::npos);
  EXPECT_EQ(parts.back(), u"--gtest_color=no");
  EXPECT_EQ(splitCommandLine(u"\"a b\"  c"), (std::vector<std::u16string>{u"a b", u"c"}));
}

}  // namespace
}  // namespace qmt
