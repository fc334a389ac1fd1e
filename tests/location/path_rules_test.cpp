#include "location/path_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace qmt {
namespace {

std::string show(std::u16string_view units) { return std::string(units.begin(), units.end()); }

TEST(PathRulesTest, JoinPath) {
  const struct {
    std::u16string base, name, joined;
  } cases[] = {
      {u"D:\\data", u"programme", u"D:\\data\\programme"},
      {u"D:\\data\\", u"programme", u"D:\\data\\programme"},
      {u"D:\\data/", u"programme", u"D:\\data/programme"},
      {u"", u"programme", u"programme"},
      {u"E:\\", u"programme", u"E:\\programme"},
      {u"E:", u"programme", u"E:programme"},
      {u"e:", u"programme", u"e:programme"},
      // The letters at both ends of each range are drives; the characters just outside them are not.
      {u"A:", u"programme", u"A:programme"},
      {u"Z:", u"programme", u"Z:programme"},
      {u"a:", u"programme", u"a:programme"},
      {u"z:", u"programme", u"z:programme"},
      {u"@:", u"programme", u"@:\\programme"},
      {u"[:", u"programme", u"[:\\programme"},
      {u"`:", u"programme", u"`:\\programme"},
      {u"{:", u"programme", u"{:\\programme"},
      {u"1:", u"programme", u"1:\\programme"},  // not a drive letter
      {u"rel", u"programme", u"rel\\programme"},
      {u"\\\\server\\share", u"x", u"\\\\server\\share\\x"},
      {u"//server/share", u"x", u"//server/share\\x"},
      {u"//server/share/", u"x", u"//server/share/x"},
      {u"E:/", u"programme", u"E:/programme"},
      {u"C:\\Users\\u\\AppData\\Local", u"Programs", u"C:\\Users\\u\\AppData\\Local\\Programs"},
      // Extended-length form: rebuilt with single backslashes; a slash is part of a name there.
      {u"\\\\?\\C:\\a\\\\b\\", u"x", u"\\\\?\\C:\\a\\b\\x"},
      {u"\\\\?\\C:\\a/b/", u"x", u"\\\\?\\C:\\a/b/\\x"},
      {u"\\\\?\\C:\\", u"x", u"\\\\?\\C:\\x"},
      {u"\\\\?\\C:", u"x", u"\\\\?\\C:\\x"},
      {u"\\\\?\\C:\\a\\.\\b", u"x", u"\\\\?\\C:\\a\\.\\b\\x"},
      {u"\\\\?\\UNC\\srv\\share", u"x", u"\\\\?\\UNC\\srv\\share\\x"},
      {u"\\\\?\\UNC\\srv\\share\\\\d\\", u"x", u"\\\\?\\UNC\\srv\\share\\d\\x"},
      {u"\\\\?\\", u"x", u"\\\\?\\x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(show(c.base));
    EXPECT_EQ(show(joinPath(c.base, c.name)), show(c.joined));
  }
}

TEST(PathRulesTest, JoinKeepsEveryUnitOfTheBase) {
  const std::u16string base{u'C', u':', u'\\', char16_t(0xD800), u'x', char16_t(0xDFFF), char16_t(0xFFFF)};
  EXPECT_EQ(joinPath(base, u"programme"), base + u"\\programme");
  const std::u16string verbatim = u"\\\\?\\" + base;
  EXPECT_EQ(joinPath(verbatim, u"programme"), verbatim + u"\\programme");
}

TEST(PathRulesTest, ParentPath) {
  const std::optional<std::u16string> none;
  const struct {
    std::u16string path;
    std::optional<std::u16string> parent;
  } cases[] = {
      {u"C:\\a\\b", u"C:\\a"},
      {u"C:\\a", u"C:\\"},
      {u"C:\\", none},
      {u"C:/", none},
      {u"C:", none},
      // A bare drive at both ends of each letter range has no parent; one just outside is a relative name.
      {u"A:", none},
      {u"Z:", none},
      {u"a:", none},
      {u"z:", none},
      {u"@:", u""},
      {u"[:", u""},
      {u"`:", u""},
      {u"{:", u""},
      {u"C:a", u"C:"},
      {u"C:a\\b", u"C:a"},
      {u"a", u""},
      {u"a\\b", u"a"},
      {u"a/b", u"a"},
      {u"\\", none},
      {u"\\a", u"\\"},
      {u"", none},
      {u".", none},
      {u".\\a", u""},
      {u"a\\.", u""},
      {u"C:\\a\\b\\\\", u"C:\\a"},
      {u"C:\\a\\.\\b\\.", u"C:\\a"},
      {u"C:\\a\\.\\.\\b", u"C:\\a"},
      {u"C:/a/b/", u"C:/a"},
      {u"C:\\a\\..", u"C:\\a"},
      {u"\\\\srv\\share\\a", u"\\\\srv\\share\\"},
      {u"\\\\srv\\share\\", none},
      {u"\\\\srv\\share", none},
      {u"\\\\.\\pipe\\x", u"\\\\.\\pipe\\"},
      // Share and device roots with slashes, in any mix.
      {u"//srv/share/a", u"//srv/share/"},
      {u"//srv/share/a/b//", u"//srv/share/a"},
      {u"//srv/share/", none},
      {u"//srv/share", none},
      {u"\\/srv\\share/a", u"\\/srv\\share/"},
      {u"/\\srv/share", none},
      {u"//nas\\programme", none},
      {u"//./pipe/x", u"//./pipe/"},
      {u"C:/a", u"C:/"},
      {u"\\\\?\\C:\\a\\b", u"\\\\?\\C:\\a"},
      {u"\\\\?\\C:\\a", u"\\\\?\\C:\\"},
      {u"\\\\?\\C:\\", none},
      {u"\\\\?\\C:\\a/b", u"\\\\?\\C:\\"},
      {u"\\\\?\\C:\\a\\.", u"\\\\?\\C:\\a"},
      {u"\\\\?\\UNC\\srv\\share\\a", u"\\\\?\\UNC\\srv\\share\\"},
      {u"\\\\?\\UNC\\srv\\share", none},
      // In extended-length form a slash is part of a name: "srv/share" is the server, "a" the share.
      {u"\\\\?\\UNC\\srv/share\\a", none},
      {u"\\\\?\\UNC\\srv/share\\a\\b", u"\\\\?\\UNC\\srv/share\\a\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(show(c.path));
    const std::optional<std::u16string_view> parent = parentPath(c.path);
    ASSERT_EQ(parent.has_value(), c.parent.has_value());
    if (!parent) continue;
    EXPECT_EQ(show(*parent), show(*c.parent));
    // A parent is always a leading part of the path itself.
    EXPECT_TRUE(parent->empty() || parent->data() == c.path.data());
  }
}

TEST(PathRulesTest, ParentWalkReachesTheRootWithoutLooping) {
  // A 300-character path with mixed separators and dot components ends at its drive root.
  std::u16string path = u"C:\\";
  while (path.size() < 300) path += u"abc/.\\";
  std::size_t steps = 0;
  std::u16string_view current = path;
  while (std::optional<std::u16string_view> parent = parentPath(current)) {
    ASSERT_LT(parent->size(), current.size());
    current = *parent;
    ++steps;
  }
  EXPECT_EQ(show(current), "C:\\");
  EXPECT_EQ(steps, (path.size() - 3) / 6);
}

}  // namespace
}  // namespace qmt
