#include "launch/path_shapes.h"

#include <gtest/gtest.h>

namespace qmt {
namespace {

struct ProgramCase {
  std::u16string program;
  bool lacksFileName;
  bool exe;
  bool directory;
};

TEST(PathShapesTest, ProgramTests) {
  const ProgramCase cases[] = {
      {u"", true, false, false},
      {u"C:\\app\\", true, false, true},
      {u"C:/app/", true, false, true},
      {u"\\\\?\\C:\\app\\", true, false, true},
      {u"\\\\?\\C:\\app/", false, false, true},  // only the backslash separates in a verbatim path
      {u"C:\\app\\Quillmart.exe", false, true, true},
      {u"C:\\app\\Q.EXE", false, true, true},
      {u"C:\\app\\Q.eXe", false, true, true},
      {u"Q.exe", false, true, false},
      {u".exe", false, true, false},
      {u"exe", false, false, false},
      {u"C:\\app\\Q.exe.txt", false, false, true},
      {u"C:\\app\\Q.ex\u00C9", false, false, true},  // only ASCII letters fold
      {u"rel/Q.exe", false, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program.begin(), c.program.end()));
    EXPECT_EQ(lacksFileName(c.program), c.lacksFileName);
    EXPECT_EQ(hasExeSuffix(c.program), c.exe);
    EXPECT_EQ(hasDirectoryPart(c.program), c.directory);
  }
}

TEST(PathShapesTest, BatchSuffixAndVerbatimPrefix) {
  for (auto path : {u"x.bat", u"C:\\a\\X.BAT", u"y.Cmd", u".cmd"}) EXPECT_TRUE(hasBatchSuffix(path));
  for (auto path : {u"x.exe", u"bat", u"x.bat ", u"x.cmdx", u"x_bat"}) EXPECT_FALSE(hasBatchSuffix(path));
  for (auto path : {u"\\\\?\\C:\\x", u"\\??\\C:\\x", u"\\\\?\\"}) EXPECT_TRUE(beginsVerbatim(path));
  for (auto path : {u"\\\\.\\C:\\x", u"C:\\x", u"\\\\?", u"//?/C:/x"}) EXPECT_FALSE(beginsVerbatim(path));
}

struct ShortFormCase {
  std::u16string path;
  std::optional<std::u16string> application;
  std::optional<std::u16string> workingDirectory;
};

TEST(PathShapesTest, ShortFormsOfExtendedLengthPaths) {
  const ShortFormCase cases[] = {
      {u"\\\\?\\C:\\a\\b.exe", u"C:\\a\\b.exe", u"C:\\a\\b.exe"},
      {u"\\\\?\\UNC\\srv\\share\\b.exe", u"\\\\srv\\share\\b.exe", u"\\\\srv\\share\\b.exe"},
      // The working directory takes any \\?\UNC beginning, the application name only \\?\UNC\.
      {u"\\\\?\\UNCsrv", std::nullopt, u"\\srv"},
      {u"\\\\?\\UNC", std::nullopt, u"\\"},
      // A drive shape needs the backslash after the colon.
      {u"\\\\?\\C:b.exe", std::nullopt, u"C:b.exe"},
      {u"\\\\?\\C:/b.exe", std::nullopt, u"C:/b.exe"},
      {u"\\\\?\\Volume{x}\\b.exe", std::nullopt, u"Volume{x}\\b.exe"},
      {u"\\??\\C:\\b.exe", std::nullopt, std::nullopt},
      {u"C:\\b.exe", std::nullopt, std::nullopt},
      {u"\\\\srv\\share", std::nullopt, std::nullopt},
      {u"", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
    EXPECT_EQ(applicationShortForm(c.path), c.application);
    EXPECT_EQ(workingDirectoryShortForm(c.path), c.workingDirectory);
  }
}

}  // namespace
}  // namespace qmt
