#include "launch/command_line.h"

#include <gtest/gtest.h>

#include <random>

namespace qmt {
namespace {

using Args = std::vector<std::u16string>;

std::u16string built(std::u16string_view program, const Args& arguments) {
  auto line = buildCommandLine(program, arguments);
  EXPECT_TRUE(line.has_value());
  return line ? *line : std::u16string();
}

struct BuildCase {
  const char* name;
  std::u16string argument;
  std::u16string written;
};

TEST(BuildCommandLineTest, WritesEachArgumentAfterOneBlank) {
  const BuildCase cases[] = {
      {"empty", u"", u"\"\""},
      {"letters only", u"abc", u"abc"},
      {"blank inside", u"a b", u"\"a b\""},
      {"tab inside", u"a\tb", u"\"a\tb\""},
      {"quote inside", u"a\"b", u"a\\\"b"},
      {"backslash before quote", u"a\\\"b", u"a\\\\\\\"b"},
      {"two backslashes", u"a\\\\b", u"a\\\\b"},
      {"drive path with blank, trailing backslash", u"C:\\Program Files\\", u"\"C:\\Program Files\\\\\""},
      {"drive path without blank, trailing backslash", u"C:\\data\\", u"C:\\data\\"},
      {"quote with blank", u"say \"hi\"", u"\"say \\\"hi\\\"\""},
      {"two trailing backslashes, quoted", u"a b\\\\", u"\"a b\\\\\\\\\""},
      {"unpaired surrogate", std::u16string{u'x', char16_t(0xD800)}, std::u16string{u'x', char16_t(0xD800)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(built(u"C:\\app\\x.exe", {c.argument}), u"\"C:\\app\\x.exe\" " + c.written);
  }
}

TEST(BuildCommandLineTest, QuotesTheProgramAlwaysAndJoinsArgumentsInOrder) {
  EXPECT_EQ(built(u"C:\\app\\x.exe", {}), u"\"C:\\app\\x.exe\"");
  EXPECT_EQ(built(u"prog", {u"/s", u"D:\\My Data", u""}), u"\"prog\" /s \"D:\\My Data\" \"\"");
  // The program is written as it is, backslashes before its closing quote included.
  EXPECT_EQ(built(u"dir\\", {u"a"}), u"\"dir\\\" a");
}

TEST(BuildCommandLineTest, ArgumentWithNulFails) {
  for (const Args& arguments : {Args{std::u16string(1, u'\0')}, Args{u"ok", std::u16string{u'a', u'\0', u'b'}}}) {
    auto line = buildCommandLine(u"prog", arguments);
    ASSERT_FALSE(line.has_value());
    EXPECT_EQ(line.error(), Error::of(ErrorKind::NulInData));
  }
}

struct SplitCase {
  const char* name;
  std::u16string text;
  Args arguments;
};

TEST(SplitCommandLineTest, SplitsTheTextAfterTheProgramName) {
  const SplitCase cases[] = {
      {"three letters", u"a  b c", {u"a", u"b", u"c"}},
      {"quoted group with blank", u"\"a b\" c", {u"a b", u"c"}},
      {"adjacent quotes between blanks", u"a \"\" b", {u"a", u"", u"b"}},
      {"backslash quote", u"a\\\"b", {u"a\"b"}},
      {"two backslashes then quoted group", u"a\\\\\"b c\"", {u"a\\b c"}},
      {"doubled quote inside quotes", u"\"a\"\"b\"", {u"a\"b"}},
      // The pair appends one quote and the part stays quoted, so the blank or tab after it does not split.
      {"doubled quote inside quotes, then a blank", u"\"a\"\" b\"", {u"a\" b"}},
      {"doubled quote inside quotes, then a tab", u"\"a\"\"\tb\" c", {u"a\"\tb", u"c"}},
      {"two backslashes", u"a\\\\b", {u"a\\\\b"}},
      {"blanks only", u"   \t ", {}},
      {"single quote", u"\"", {u""}},
      {"tabs separate", u"a\tb", {u"a", u"b"}},
      {"three backslashes and quote", u"a\\\\\\\"b", {u"a\\\"b"}},
      {"quote closing at the end keeps the argument", u"\"\"", {u""}},
      {"empty argument at the end", u"a \"\"", {u"a", u""}},
      {"trailing backslashes", u"a\\\\ b\\", {u"a\\\\", u"b\\"}},
      {"unpaired surrogates", std::u16string{char16_t(0xDC00), u' ', char16_t(0xD83D)},
       {std::u16string(1, char16_t(0xDC00)), std::u16string(1, char16_t(0xD83D))}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Args expected{u"prog"};
    expected.insert(expected.end(), c.arguments.begin(), c.arguments.end());
    EXPECT_EQ(splitCommandLineText((u"prog " + c.text).c_str()), expected);
    // The arguments survive being written again and split once more.
    EXPECT_EQ(splitCommandLineText(built(u"prog", c.arguments).c_str()), expected);
  }
}

TEST(SplitCommandLineTest, ProgramNameRules) {
  const SplitCase cases[] = {
      {"quoted with blank", u"\"C:\\Program Files\\a.exe\" x", {u"C:\\Program Files\\a.exe", u"x"}},
      {"backslash before quote stays, quote toggles", u"\"C:\\dir\\\" x", {u"C:\\dir\\", u"x"}},
      {"quote in the middle", u"C:\\a\" b\"c d", {u"C:\\a bc", u"d"}},
      {"tab ends it", u"prog\tx", {u"prog", u"x"}},
      {"only blanks after it", u"prog \t ", {u"prog"}},
      {"empty quoted name", u"\"\" x", {u"", u"x"}},
      {"empty line", u"", {u""}},
      {"leading blank gives an empty name", u" x", {u"", u"x"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(splitCommandLineText(c.text.c_str()), c.arguments);
  }
}

TEST(SplitCommandLineTest, StopsAtTheTerminatingNul) {
  const char16_t line[] = {u'p', u' ', u'a', u'\0', u'b', u'\0'};
  EXPECT_EQ(splitCommandLineText(line), (Args{u"p", u"a"}));
}

// Building and splitting again gives the program and the same arguments, for random arguments drawn mostly from
// the units that the rules treat specially.
TEST(CommandLineRoundTripTest, SplitRecoversWhatBuildWrote) {
  const char16_t alphabet[] = {u' ', u'\t', u'"', u'\\', u'a', u'Z', u'\u00DF', char16_t(0xD800), char16_t(0xDFFF),
                               u'/', u':'};
  std::mt19937 random(20261208);
  auto draw = [&](std::size_t maxLength, bool allowQuote) {
    std::u16string s(random() % (maxLength + 1), u'a');
    for (char16_t& unit : s) {
      do unit = alphabet[random() % std::size(alphabet)];
      while (!allowQuote && unit == u'"');
    }
    return s;
  };
  for (int round = 0; round < 20000; ++round) {
    const std::u16string program = draw(6, false);
    Args arguments(random() % 5);
    for (auto& argument : arguments) argument = draw(8, true);
    const std::u16string line = built(program, arguments);
    Args expected{program};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    ASSERT_EQ(splitCommandLineText(line.c_str()), expected) << "round " << round;
  }
}

}  // namespace
}  // namespace qmt
