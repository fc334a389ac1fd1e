#include "placement/system_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qmt {
namespace {

// A resolver that records what it was asked and answers with a fixed full path (or the path itself).
struct RecordingResolver {
  std::vector<std::u16string> asked;
  std::u16string answer;
  FullPathResolver function() {
    return [this](const std::u16string& path) -> Expected<std::u16string, Error> {
      asked.push_back(path);
      return answer.empty() ? path : answer;
    };
  }
};

std::u16string repeat(char16_t unit, std::size_t n) { return std::u16string(n, unit); }

TEST(SystemPathTest, AbsoluteShortPathsPassUnchangedWithoutResolving) {
  const std::u16string drive246 = u"C:\\" + repeat(u'a', 243);
  const std::u16string cases[] = {
      u"C:\\x", u"C:/x", u"C:", u"c:\\", u"\\\\server\\share\\f", u"//server/share", u"\\/x", u"/\\x",
      u"\u00e4:\\x",  // any unit but a separator counts as the drive
      u"\\\\?\\C:\\x", u"\\??\\C:\\x", u"", drive246,
      u"\\\\?\\" + repeat(u'b', 400),  // verbatim paths are never resolved, whatever their length
  };
  for (const auto& path : cases) {
    RecordingResolver resolver;
    auto result = systemPathFormWith(path, true, resolver.function());
    ASSERT_TRUE(result) << path.size();
    EXPECT_EQ(*result, path);
    EXPECT_TRUE(resolver.asked.empty()) << "resolved a path of " << path.size() << " units";
  }
}

TEST(SystemPathTest, OtherShapesAreResolvedAndPrefixedByTheirFullShape) {
  struct Case {
    std::u16string path, full;
    bool preferVerbatim;
    std::u16string expected;
  };
  const std::u16string drive247 = u"C:\\" + repeat(u'a', 244);
  const std::u16string server300 = u"\\\\srv\\share\\" + repeat(u's', 288);
  const std::u16string full246 = u"Z:\\" + repeat(u'r', 243);
  const std::u16string full247 = u"Z:\\" + repeat(u'r', 244);
  const Case cases[] = {
      {u"rel\\f", u"Z:\\w\\rel\\f", true, u"\\\\?\\Z:\\w\\rel\\f"},
      {u"rel\\f", u"Z:\\w\\rel\\f", false, u"Z:\\w\\rel\\f"},
      {u"\\x", u"Z:\\x", true, u"\\\\?\\Z:\\x"},
      {u"C:x", u"C:\\w\\x", true, u"\\\\?\\C:\\w\\x"},
      {u"/x", u"Z:\\x", true, u"\\\\?\\Z:\\x"},
      {drive247, drive247, true, u"\\\\?\\" + drive247},
      {drive247, drive247, false, u"\\\\?\\" + drive247},
      {server300, server300, false, u"\\\\?\\UNC\\" + server300.substr(2)},
      {u"r", full246, false, full246},
      {u"r", full247, false, u"\\\\?\\" + full247},
  };
  for (const auto& c : cases) {
    RecordingResolver resolver;
    resolver.answer = c.full;
    auto result = systemPathFormWith(c.path, c.preferVerbatim, resolver.function());
    ASSERT_TRUE(result) << c.path.size();
    EXPECT_EQ(*result, c.expected) << c.path.size();
    ASSERT_EQ(resolver.asked.size(), 1u);
    EXPECT_EQ(resolver.asked[0], c.path);
  }
}

TEST(SystemPathTest, VerbatimFormByShape) {
  struct Case {
    std::u16string full, expected;
  };
  const Case cases[] = {
      {u"C:\\x", u"\\\\?\\C:\\x"},
      {u"\\\\.\\C:\\x", u"\\\\?\\C:\\x"},
      {u"\\\\.\\pipe\\p", u"\\\\?\\pipe\\p"},
      {u"\\\\?\\C:\\x", u"\\\\?\\C:\\x"},
      {u"\\??\\C:\\x", u"\\??\\C:\\x"},
      {u"\\\\srv\\share", u"\\\\?\\UNC\\srv\\share"},
      {u"1:\\x", u"1:\\x"},  // not a drive letter
      {u"C:", u"C:"},
      {u"relative", u"relative"},
  };
  for (const auto& c : cases) EXPECT_EQ(verbatimForm(c.full), c.expected);
}

TEST(SystemPathTest, NulFailsBeforeAnythingIsResolved) {
  const std::u16string withNul[] = {std::u16string(u"C:\\a\0b", 6), std::u16string(u"\0", 1),
                                    std::u16string(u"rel\0", 4), std::u16string(u"\\\\?\\x\0y", 7)};
  for (const auto& path : withNul) {
    RecordingResolver resolver;
    auto result = systemPathFormWith(path, true, resolver.function());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), Error::of(ErrorKind::NulInPath));
    EXPECT_TRUE(resolver.asked.empty());
  }
}

TEST(SystemPathTest, ResolverFailureIsTheResult) {
  FullPathResolver failing = [](const std::u16string&) -> Expected<std::u16string, Error> {
    return unexpected(Error::system(123));
  };
  auto result = systemPathFormWith(u"rel", true, failing);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), Error::system(123));
}

}  // namespace
}  // namespace qmt
