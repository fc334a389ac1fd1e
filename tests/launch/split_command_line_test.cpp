#include <gtest/gtest.h>
#include <windows.h>

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

TEST(SplitCommandLineWindowsTest, OwnCommandLineStartsWithTheProgram) {
  const auto parts = splitCommandLine(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  ASSERT_GE(parts.size(), 2u);  // CTest passes --gtest_color=no
  EXPECT_NE(parts[0].find(u"launch_windows_tests"), std::u16string::npos);
  EXPECT_EQ(parts.back(), u"--gtest_color=no");
  EXPECT_EQ(splitCommandLine(u"\"a b\"  c"), (std::vector<std::u16string>{u"a b", u"c"}));
}

}  // namespace
}  // namespace qmt
