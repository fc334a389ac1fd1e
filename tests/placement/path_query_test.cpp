// fullPathName, systemPathForm and queryAttributes / isPresent on the real (Wine) file system.
#include <gtest/gtest.h>

#include <optional>

#include "placement/file_access.h"
#include "placement/file_information.h"
#include "runtime/wide.h"
#include "scoped_calls.h"
#include "scratch_folder.h"

namespace qmt {
namespace {

using testing::ScopedCalls;
using testing::ScratchFolder;

std::u16string currentFolder() {
  wchar_t buffer[4096];
  return std::u16string(fromWide(buffer, GetCurrentDirectoryW(4096, buffer)));
}

TEST(FullPathNameTest, RelativeAndLongNamesResolveAgainstTheCurrentFolder) {
  const std::u16string long600(600, u'n');  // needs a second call with the size the system asks for
  const std::u16string cases[] = {u"rel\\f", u"a\\..\\b", long600};
  for (const auto& relative : cases) {
    auto full = fullPathName(relative);
    ASSERT_TRUE(full) << full.error().code;
    std::u16string expected = currentFolder() + u"\\" + (relative == u"a\\..\\b" ? u"b" : relative);
    EXPECT_EQ(*full, expected);
  }
  // The system returns 0 and leaves the last error alone for an empty name: an empty result, not a failure.
  SetLastError(ERROR_INVALID_NAME);
  auto empty = fullPathName(u"");
  ASSERT_TRUE(empty);
  EXPECT_EQ(*empty, u"");
}

TEST(SystemPathFormTest, ShapesReachTheSystemAsDesigned) {
  const std::u16string cwd = currentFolder();
  const std::u16string drive300 = cwd + u"\\" + std::u16string(300 - cwd.size() - 1, u'l');
  struct Case {
    std::u16string path, expected;
  };
  const Case cases[] = {
      {u"C:\\x\\y", u"C:\\x\\y"},
      {u"rel\\f", u"\\\\?\\" + cwd + u"\\rel\\f"},
      {u"\\x", u"\\\\?\\Z:\\x"},
      {drive300, u"\\\\?\\" + drive300},
      {u"\\\\srv\\share\\" + std::u16string(250, u's'), u"\\\\?\\UNC\\srv\\share\\" + std::u16string(250, u's')},
  };
  for (const auto& c : cases) {
    auto form = systemPathForm(c.path, true);
    ASSERT_TRUE(form);
    EXPECT_EQ(*form, c.expected);
  }
  auto plain = systemPathForm(u"rel", false);
  ASSERT_TRUE(plain);
  EXPECT_EQ(*plain, cwd + u"\\rel");
}

TEST(QueryAttributesTest, FilesFoldersAndMissingObjects) {
  ScratchFolder scratch;
  testing::putFile(scratch / u"five.bin", testing::bytesOf("12345"));
  testing::makeFolder(scratch / u"sub");
  // A 300-unit path below the scratch folder, made through the extended-length form.
  std::u16string deep = scratch / std::u16string(200, u'd');
  testing::makeFolder(u"\\\\?\\" + deep);
  std::u16string deepFile = deep + u"\\" + std::u16string(120, u'f');
  testing::putFile(u"\\\\?\\" + deepFile, testing::bytesOf("xy"));

  auto file = queryAttributes(scratch / u"five.bin");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(file->size, 5u);
  EXPECT_NE(file->lastWriteTime, 0u);
  auto folder = queryAttributes(scratch / u"sub");
  ASSERT_TRUE(folder);
  EXPECT_NE(folder->attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  auto deepResult = queryAttributes(deepFile);
  ASSERT_TRUE(deepResult) << deepFile.size() << " units, error " << deepResult.error().code;
  EXPECT_EQ(deepResult->size, 2u);

  struct Missing {
    std::u16string path;
    Error error;
  };
  const Missing missing[] = {
      {scratch / u"none", Error::system(ERROR_FILE_NOT_FOUND)},
      {scratch / u"none\\x", Error::system(ERROR_PATH_NOT_FOUND)},
      {std::u16string(u"C:\\a\0b", 6), Error::of(ErrorKind::NulInPath)},
  };
  for (const auto& m : missing) {
    auto result = queryAttributes(m.path);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), m.error) << result.error().code;
    EXPECT_FALSE(isPresent(m.path));
  }
  EXPECT_TRUE(isPresent(scratch / u"five.bin"));
  EXPECT_TRUE(isPresent(scratch / u"sub"));
  EXPECT_TRUE(isPresent(deepFile));
}

// An open that fails with this error (set by the test) stands in for an object that may not be opened.
DWORD gOpenError = 0;
HANDLE WINAPI failingOpen(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  SetLastError(gOpenError);
  return INVALID_HANDLE_VALUE;
}
// Fails with ERROR_CANT_ACCESS_FILE when asked to follow links, opens the link itself otherwise.
HANDLE WINAPI cantFollowOpen(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                             DWORD flags, HANDLE templateFile) {
  if (!(flags & FILE_FLAG_OPEN_REPARSE_POINT)) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(name, access, share, security, disposition, flags, templateFile);
}

TEST(QueryAttributesTest, DeniedOpenFallsBackToTheDirectoryEntryThroughSeam) {
  ScratchFolder scratch;
  testing::putFile(scratch / u"seven.bin", testing::bytesOf("1234567"));
  ScopedCalls calls;
  calls->createFile = failingOpen;
  for (DWORD code : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_SHARING_VIOLATION}}) {
    gOpenError = code;
    auto found = queryAttributes(scratch / u"seven.bin");
    ASSERT_TRUE(found) << code;
    EXPECT_EQ(found->size, 7u);
    // No entry to fall back to: the open's error stands.
    auto missing = queryAttributes(scratch / u"none");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), Error::system(code));
  }
  gOpenError = ERROR_INVALID_NAME;  // any other open failure is the result, without a lookup
  auto other = queryAttributes(scratch / u"seven.bin");
  ASSERT_FALSE(other);
  EXPECT_EQ(other.error(), Error::system(ERROR_INVALID_NAME));
}

// What the opened object reports about itself in place of the system's answer (Wine reports no link as a reparse
// point); nullopt: the system's answer.
std::optional<FileAttributes> gReported;
Expected<FileAttributes, Error> reportedInformation(HANDLE file) {
  if (gReported) return *gReported;
  return informationOfHandle(file);
}

TEST(QueryAttributesTest, CantAccessFileRetriesOnTheObjectItselfThroughSeam) {
  ScratchFolder scratch;
  testing::putFile(scratch / u"three.bin", testing::bytesOf("abc"));
  ScopedCalls calls;
  calls->createFile = cantFollowOpen;
  calls->information = reportedInformation;
  constexpr std::uint32_t kReparse = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE;
  constexpr std::uint32_t kSymlinkTag = 0xA000000C, kDedupTag = 0x80000013;  // IO_REPARSE_TAG_SYMLINK, _DEDUP
  const struct {
    const char* name;
    std::u16string path;
    std::optional<FileAttributes> reported;
    std::optional<std::uint32_t> tag;  // nullopt: the query fails with the first open's error
  } cases[] = {
      {"an ordinary file is its own answer", scratch / u"three.bin", std::nullopt, 0},
      {"a reparse point that is no link is its own answer", scratch / u"three.bin",
       FileAttributes{kReparse, kDedupTag, 3}, kDedupTag},
      {"a link stays unreachable", scratch / u"three.bin", FileAttributes{kReparse, kSymlinkTag, 0}, std::nullopt},
      {"the repetition's own error is discarded", scratch / u"none", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    gReported = c.reported;
    auto result = queryAttributes(c.path);
    ASSERT_EQ(result.has_value(), c.tag.has_value()) << c.name;
    if (result) {
      EXPECT_EQ(result->reparseTag, *c.tag) << c.name;
      EXPECT_EQ(result->size, 3u) << c.name;
    } else {
      EXPECT_EQ(result.error(), Error::system(ERROR_CANT_ACCESS_FILE)) << c.name << ": " << result.error().code;
    }
  }
}

}  // namespace
}  // namespace qmt
