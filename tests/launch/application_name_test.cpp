#include "launch/application_name.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "runtime/text.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

// An absolute drive path of exactly `length` units ending in ".exe", made of short components.
std::u16string drivePathOfLength(std::size_t length) {
  std::u16string path = u"C:\\";
  while (path.size() + 4 < length) path.push_back((path.size() % 40 == 0) ? u'\\' : u'a');
  if (path.back() == u'\\') path.back() = u'b';
  return path + u".exe";
}

std::u16string currentDirectory() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
  return std::u16string(fromWide(buffer, n));
}

struct NameCase {
  const char* name;
  std::u16string program;
  std::u16string applicationName;
};

TEST(ApplicationNameTest, UserPathForm) {
  const std::u16string at246 = drivePathOfLength(246), at247 = drivePathOfLength(247);
  const std::u16string at259 = drivePathOfLength(259), at260 = drivePathOfLength(260);
  ASSERT_EQ(at246.size(), 246u);
  ASSERT_EQ(at260.size(), 260u);
  const NameCase cases[] = {
      {"drive path of 246 units", at246, at246},
      {"drive path of 247 units", at247, u"\\\\?\\" + at247},
      {"drive path of 259 units", at259, u"\\\\?\\" + at259},
      {"drive path of 260 units", at260, at260},
      {"extended drive path that is its own full path", u"\\\\?\\C:\\dir\\Q.exe", u"C:\\dir\\Q.exe"},
      {"extended drive path with a dot-dot part", u"\\\\?\\C:\\dir\\..\\Q.exe", u"\\\\?\\C:\\dir\\..\\Q.exe"},
      {"extended drive path with a slash", u"\\\\?\\C:\\dir/Q.exe", u"\\\\?\\C:\\dir/Q.exe"},
      {"extended UNC path that is its own full path", u"\\\\?\\UNC\\srv\\share\\Q.exe", u"\\\\srv\\share\\Q.exe"},
      {"extended UNC path with a dot part", u"\\\\?\\UNC\\srv\\share\\.\\Q.exe", u"\\\\?\\UNC\\srv\\share\\.\\Q.exe"},
      {"extended path of another shape", u"\\\\?\\GLOBALROOT\\x\\Q.exe", u"\\\\?\\GLOBALROOT\\x\\Q.exe"},
      {"NT path", u"\\??\\C:\\dir\\Q.exe", u"\\??\\C:\\dir\\Q.exe"},
      {"slashes in a short drive path", u"C:/dir/Q.exe", u"C:/dir/Q.exe"},
      {"server share", u"\\\\srv\\share\\Q.exe", u"\\\\srv\\share\\Q.exe"},
      {"relative path", u"rel dir\\Q.exe", currentDirectory() + u"\\rel dir\\Q.exe"},
      {"rooted path without drive", u"\\dir\\Q.exe", currentDirectory().substr(0, 2) + u"\\dir\\Q.exe"},
      {"name without directory", u"Q.exe", currentDirectory() + u"\\Q.exe"},
      {"directory part without .exe", u"C:\\dir\\tool", u"C:\\dir\\tool"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto name = applicationNameFor(c.program);
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(utf16ToUtf8Lossy(*name), utf16ToUtf8Lossy(c.applicationName));
  }
}

TEST(ApplicationNameTest, UnusablePrograms) {
  const struct {
    const char* name;
    std::u16string program;
    Error error;
  } cases[] = {
      {"empty", u"", Error::of(ErrorKind::NoFileName)},
      {"ends in backslash", u"C:\\dir\\", Error::of(ErrorKind::NoFileName)},
      {"ends in slash", u"C:/dir/", Error::of(ErrorKind::NoFileName)},
      {"extended path ending in backslash", u"\\\\?\\C:\\dir\\", Error::of(ErrorKind::NoFileName)},
      {"NUL inside", std::u16string(u"C:\\a\0b.exe", 10), Error::of(ErrorKind::NulInPath)},
      {"NUL inside a long path", drivePathOfLength(300).replace(10, 1, 1, u'\0'), Error::of(ErrorKind::NulInPath)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto name = applicationNameFor(c.program);
    ASSERT_FALSE(name.has_value());
    EXPECT_EQ(name.error(), c.error);
  }
}

TEST(ApplicationNameTest, BatchFileTest) {
  const struct {
    std::u16string applicationName;
    bool batch;
  } cases[] = {
      {u"C:\\x\\run.bat", true},
      {u"C:\\x\\RUN.CMD", true},
      {u"C:\\x\\run.exe", false},
      {u"C:\\x\\b.exe\\..\\a.bat", true},    // decided on the full path
      {u"C:\\x\\a.bat\\..\\b.exe", false},
      {u"C:\\x\\a.bat.", true},              // the full path drops the trailing dot
      {u"\\\\?\\C:\\x\\a.bat\\..\\b.exe", false},
      {u"\\\\?\\C:\\x\\b.exe\\..\\a.Bat", true},  // taken as it is
      {u"\\??\\C:\\x\\a.bat.", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utf16ToUtf8Lossy(c.applicationName));
    auto batch = isBatchFile(c.applicationName);
    ASSERT_TRUE(batch.has_value());
    EXPECT_EQ(*batch, c.batch);
  }
}

}  // namespace
}  // namespace qmt
