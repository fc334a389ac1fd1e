#include "launch/working_directory.h"

#include <gtest/gtest.h>

#include "launch/own_full_path.h"
#include "runtime/text.h"

namespace qmt {
namespace {

TEST(WorkingDirectoryTest, StringPassedToTheSystem) {
  using Dir = std::optional<std::u16string>;
  const struct {
    const char* name;
    Dir directory;
    Dir passed;
  } cases[] = {
      {"absent", std::nullopt, std::nullopt},
      {"drive path", u"C:\\data\\programme", u"C:\\data\\programme"},
      {"relative path, unchanged", u"data\\..\\x", u"data\\..\\x"},
      {"extended drive path, exact", u"\\\\?\\C:\\data\\programme", u"C:\\data\\programme"},
      {"extended drive path, not exact", u"\\\\?\\C:\\data\\..\\programme", u"\\\\?\\C:\\data\\..\\programme"},
      {"extended UNC path, exact", u"\\\\?\\UNC\\srv\\share\\dir", u"\\\\srv\\share\\dir"},
      {"extended UNC path, not exact", u"\\\\?\\UNC\\srv\\share\\dir\\.", u"\\\\?\\UNC\\srv\\share\\dir\\."},
      {"extended path, relative rest", u"\\\\?\\data", u"\\\\?\\data"},
      {"empty", u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto passed = workingDirectoryString(c.directory);
    ASSERT_TRUE(passed.has_value());
    EXPECT_EQ(*passed, c.passed);
  }
}

TEST(WorkingDirectoryTest, NulInsideFails) {
  auto passed = workingDirectoryString(std::u16string(u"C:\\a\0b", 6));
  ASSERT_FALSE(passed.has_value());
  EXPECT_EQ(passed.error(), Error::of(ErrorKind::NulInData));
}

TEST(OwnFullPathTest, ExactOnlyForTheSameUnits) {
  EXPECT_TRUE(isOwnFullPath(u"C:\\a\\b"));
  EXPECT_TRUE(isOwnFullPath(u"\\\\srv\\share\\b"));
  EXPECT_FALSE(isOwnFullPath(u"C:\\a\\..\\b"));
  EXPECT_FALSE(isOwnFullPath(u"C:/a/b"));
  EXPECT_FALSE(isOwnFullPath(u"a\\b"));
  EXPECT_FALSE(isOwnFullPath(u""));
}

}  // namespace
}  // namespace qmt
