// readWholeFile, holdsExactly, writeWholeFile, renameFile and removeFile on the real (Wine) file system; the
// branches Wine cannot produce go through the replaceable system calls.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <vector>

#include "placement/file_access.h"
#include "runtime/handle.h"
#include "runtime/wide.h"
#include "scoped_calls.h"
#include "scratch_folder.h"
#include "under_wine.h"

namespace qmt {
namespace {

using testing::Bytes;
using testing::ScopedCalls;
using testing::ScratchFolder;

Bytes pattern(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 1);
  return bytes;
}

std::u16string asciiName(std::size_t n) {
  std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

Bytes contentOf(const ByteBuffer& buffer) { return Bytes(buffer.data(), buffer.data() + buffer.size()); }

// --- Transfers recorded through the seam --------------------------------------------------------------------

struct TransferRecord {
  TransferDirection direction;
  std::size_t asked;
  std::size_t done;
};
std::vector<TransferRecord> gTransfers;
// Test hooks of the recording transfer: before the first read, append these bytes through another handle; fail
// the transfer with this index (after writing half of what was asked, for a write) with error 112; cap writes.
std::u16string gGrowPath;
std::size_t gFailAt = SIZE_MAX;
std::size_t gWriteCap = SIZE_MAX;
bool gWriteZero = false;

Expected<std::size_t, Error> recordingTransfer(TransferDirection direction, HANDLE file, std::uint8_t* buffer,
                                               std::size_t length) {
  std::size_t index = gTransfers.size();
  if (!gGrowPath.empty() && direction == TransferDirection::Read) {
    UniqueHandle other(CreateFileW(wide(gGrowPath), FILE_APPEND_DATA, 7, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    WriteFile(other.get(), "GROWN", 5, &written, nullptr);
    gGrowPath.clear();
  }
  if (index == gFailAt) {
    if (direction == TransferDirection::Write) (void)synchronousTransfer(direction, file, buffer, length / 2);
    gTransfers.push_back({direction, length, 0});
    return unexpected(Error::system(ERROR_DISK_FULL));
  }
  if (gWriteZero && direction == TransferDirection::Write) {
    gTransfers.push_back({direction, length, 0});
    return std::size_t{0};
  }
  std::size_t asked = direction == TransferDirection::Write ? std::min(length, gWriteCap) : length;
  auto done = synchronousTransfer(direction, file, buffer, asked);
  gTransfers.push_back({direction, length, done ? *done : 0});
  return done;
}

class FileOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gTransfers.clear();
    gGrowPath.clear();
    gFailAt = gWriteCap = SIZE_MAX;
    gWriteZero = false;
    calls_->transfer = recordingTransfer;
  }
  std::vector<std::size_t> asked() const {
    std::vector<std::size_t> result;
    for (const auto& t : gTransfers) result.push_back(t.asked);
    return result;
  }
  ScopedCalls calls_;
  ScratchFolder scratch_;
};

TEST_F(FileOperationsTest, ReadCountsTransfersBySize) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> asked;
  };
  const Case cases[] = {{1000, {1000, 32}}, {32, {32, 32}}, {0, {32}}, {10, {32, 32}}, {70000, {70000, 32}}};
  for (const auto& c : cases) {
    auto path = scratch_ / asciiName(c.size);
    testing::putFile(path, pattern(c.size));
    gTransfers.clear();
    auto read = readWholeFile(path);
    ASSERT_TRUE(read) << c.size;
    EXPECT_EQ(contentOf(*read), pattern(c.size));
    EXPECT_EQ(asked(), c.asked) << c.size;
  }
}

TEST_F(FileOperationsTest, ReadFollowsAFileThatGrowsDuringTheRead) {
  auto path = scratch_ / u"growing";
  testing::putFile(path, pattern(100));
  gGrowPath = path;
  auto read = readWholeFile(path);
  ASSERT_TRUE(read);
  Bytes expected = pattern(100);
  for (char c : std::string("GROWN")) expected.push_back(static_cast<std::uint8_t>(c));
  EXPECT_EQ(contentOf(*read), expected);
}

TEST_F(FileOperationsTest, ReadFailures) {
  testing::makeFolder(scratch_ / u"folder");
  struct Case {
    std::u16string path;
    Error error;
  };
  const Case cases[] = {
      {scratch_ / u"missing", Error::system(ERROR_FILE_NOT_FOUND)},
      {scratch_ / u"missing\\x", Error::system(ERROR_PATH_NOT_FOUND)},
      {std::u16string(u"C:\\x\0y", 6), Error::of(ErrorKind::NulInPath)},
  };
  for (const auto& c : cases) {
    auto read = readWholeFile(c.path);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error(), c.error) << read.error().code;
  }
  EXPECT_FALSE(readWholeFile(scratch_ / u"folder")) << "a folder has no content to read";
  EXPECT_TRUE(gTransfers.empty());

  auto path = scratch_ / u"fails";
  testing::putFile(path, pattern(500));
  gFailAt = 0;
  auto failed = readWholeFile(path);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), Error::system(ERROR_DISK_FULL));
}

// --- CreateFileW recorded through the seam ---------------------------------------------------------------------

// The arguments of one open as the system receives them; `plain` is no security attributes and no template file.
struct Open {
  std::u16string name;
  DWORD access, share, disposition, flags;
  bool plain;
  friend bool operator==(const Open&, const Open&) = default;
};
std::vector<Open> gOpens;
void PrintTo(const Open& open, std::ostream* out) {
  *out << std::hex << "access 0x" << open.access << ", share " << open.share << ", disposition " << open.disposition
       << ", flags 0x" << open.flags << (open.plain ? "" : ", with security attributes or a template");
}

HANDLE WINAPI recordingOpen(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                            DWORD flags, HANDLE templ) {
  gOpens.push_back({std::u16string(fromWide(name)), access, share, disposition, flags, sa == nullptr && !templ});
  return CreateFileW(name, access, share, sa, disposition, flags, templ);
}

// The identical-file check opens the file exactly as the whole read does, reads nothing when the size already
// differs, and otherwise reads pieces and one probe; a file that grows after the size query is different.
TEST_F(FileOperationsTest, HoldsExactlyOpensLikeTheReadAndReadsOnlyWhenTheSizeMatches) {
  calls_->createFile = recordingOpen;
  constexpr std::size_t kSize = 150000;
  const Bytes content = pattern(kSize);
  const Bytes shorter = pattern(kSize - 1);
  Bytes changed = content;
  changed[kSize - 1] ^= 0x01;
  struct Case {
    const char* name;
    Bytes file;
    bool grows;
    bool same;
    std::vector<std::size_t> asked;
  };
  const Case cases[] = {
      {"identical", content, false, true, {65536, 65536, 18928, 32}},
      {"one byte shorter", shorter, false, false, {}},
      {"last byte differs", changed, false, false, {65536, 65536, 18928}},
      {"grows after the size query", content, true, false, {65536, 65536, 18928, 32}},
  };
  const auto path = scratch_ / u"compared";
  for (const auto& c : cases) {
    testing::putFile(path, c.file);
    if (c.grows) gGrowPath = path;
    gTransfers.clear();
    gOpens.clear();
    auto same = holdsExactly(path, content);
    ASSERT_TRUE(same) << c.name;
    EXPECT_EQ(*same, c.same) << c.name;
    EXPECT_EQ(asked(), c.asked) << c.name;
    EXPECT_EQ(gOpens, (std::vector<Open>{{*systemPathForm(path, true), GENERIC_READ, 7, OPEN_EXISTING, 0, true}}))
        << c.name;
  }
  auto missing = holdsExactly(scratch_ / u"missing", content);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), Error::system(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileOperationsTest, ReadOfAFileLargerThanMemoryReportsOutOfMemory) {
  // A sparse file of 1 TiB: the size-hinted buffer cannot be had, which is an error, not the end of the process.
  // (Wine takes a few seconds to refuse such an allocation; beyond the address space it refuses at once, but the
  // file system here cannot hold a file that large.)
  auto path = scratch_ / u"huge";
  {
    UniqueHandle file(CreateFileW(wide(path), GENERIC_WRITE, 7, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file);
    LARGE_INTEGER end;
    end.QuadPart = std::int64_t{1} << 40;
    ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
  }
  gFailAt = 0;  // should the allocation ever succeed, do not read terabytes
  auto read = readWholeFile(path);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error(), Error::of(ErrorKind::OutOfMemory));
  EXPECT_TRUE(gTransfers.empty());
}

TEST_F(FileOperationsTest, WriteCreatesTruncatesAndWritesEverything) {
  struct Case {
    const char* name;
    std::size_t before;  // SIZE_MAX: no file before
    std::size_t size;
    std::size_t writeCap;
    std::size_t transfers;
  };
  const Case cases[] = {
      {"new file", SIZE_MAX, 3000, SIZE_MAX, 1},
      {"over a longer file", 5000, 3000, SIZE_MAX, 1},
      {"over a shorter file", 10, 3000, SIZE_MAX, 1},
      {"empty content makes no write", 5000, 0, SIZE_MAX, 0},
      {"short writes are continued", SIZE_MAX, 250, 100, 3},
  };
  for (const auto& c : cases) {
    auto path = scratch_ / u"written";
    DeleteFileW(wide(path));
    if (c.before != SIZE_MAX) testing::putFile(path, Bytes(c.before, 0xEE));
    gTransfers.clear();
    gWriteCap = c.writeCap;
    Bytes content = pattern(c.size);
    auto written = writeWholeFile(path, content);
    ASSERT_TRUE(written) << c.name;
    EXPECT_EQ(testing::fileContent(path), content) << c.name;
    EXPECT_EQ(gTransfers.size(), c.transfers) << c.name;
  }
}

TEST_F(FileOperationsTest, WriteFailuresLeaveWhatWasWritten) {
  auto path = scratch_ / u"partial";
  gFailAt = 0;
  Bytes content = pattern(1000);
  auto failed = writeWholeFile(path, content);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), Error::system(ERROR_DISK_FULL));
  EXPECT_EQ(testing::fileContent(path), Bytes(content.begin(), content.begin() + 500));

  gFailAt = SIZE_MAX;
  gWriteZero = true;
  auto zero = writeWholeFile(path, content);
  ASSERT_FALSE(zero);
  EXPECT_EQ(zero.error(), Error::of(ErrorKind::WriteZero));
  EXPECT_EQ(gTransfers.size(), 2u) << "a write of nothing is not retried";

  auto nul = writeWholeFile(std::u16string(u"C:\\x\0y", 6), content);
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.error(), Error::of(ErrorKind::NulInPath));
  auto noFolder = writeWholeFile(scratch_ / u"missing\\x", content);
  ASSERT_FALSE(noFolder);
  EXPECT_EQ(noFolder.error(), Error::system(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileOperationsTest, LongAndRelativePathsWorkForEveryOperation) {
  // A folder name that takes the paths past 300 units: they reach the system in extended-length form.
  const std::u16string folder = scratch_ / std::u16string(230, u'd');
  testing::makeFolder(u"\\\\?\\" + folder);
  // The scratch folder lies in the current folder, so the same folder can be named relative to it.
  const std::size_t currentFolderLength = scratch_.path().find_last_of(u'\\');
  const std::u16string relativeFolder = folder.substr(currentFolderLength + 1);
  struct Case {
    std::u16string first, second;
  };
  const Case cases[] = {
      {folder + u"\\" + std::u16string(60, u'a'), folder + u"\\" + std::u16string(70, u'b')},
      {relativeFolder + u"\\rel-a", relativeFolder + u"\\rel-b"},
  };
  for (const auto& c : cases) {
    ASSERT_GE(c.first.size() + (c.first[1] == u':' ? 0 : currentFolderLength + 1), 300u);
    const Bytes content = pattern(777);
    ASSERT_TRUE(writeWholeFile(c.first, content));
    auto read = readWholeFile(c.first);
    ASSERT_TRUE(read);
    EXPECT_EQ(contentOf(*read), content);
    EXPECT_TRUE(isPresent(c.first));
    ASSERT_TRUE(renameFile(c.first, c.second));
    EXPECT_FALSE(isPresent(c.first));
    EXPECT_EQ(queryAttributes(c.second)->size, 777u);
    ASSERT_TRUE(removeFile(c.second));
    EXPECT_FALSE(isPresent(c.second));
  }
}

// --- SetFileInformationByHandle through the seam --------------------------------------------------------------

struct InformationCall {
  int infoClass;
  Bytes block;
};
std::vector<InformationCall> gInformationCalls;
BOOL gInformationResult = FALSE;
DWORD gInformationError = 0;

BOOL WINAPI scriptedSetInformation(HANDLE, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID block, DWORD size) {
  auto* bytes = static_cast<const std::uint8_t*>(block);
  gInformationCalls.push_back({static_cast<int>(infoClass), Bytes(bytes, bytes + size)});
  if (!gInformationResult) SetLastError(gInformationError);
  return gInformationResult;
}
void* failingAllocate(std::size_t) { return nullptr; }

TEST_F(FileOperationsTest, WriteTruncationFallsBackToTheEndOfFileThroughSeam) {
  auto path = scratch_ / u"existing";
  testing::putFile(path, pattern(10));
  gInformationCalls.clear();
  gInformationResult = FALSE;
  gInformationError = ERROR_INVALID_FUNCTION;
  calls_->setFileInformationByHandle = scriptedSetInformation;
  auto failed = writeWholeFile(path, pattern(3));
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), Error::system(ERROR_INVALID_FUNCTION));
  ASSERT_EQ(gInformationCalls.size(), 2u);
  EXPECT_EQ(gInformationCalls[0].infoClass, FileAllocationInfo);
  EXPECT_EQ(gInformationCalls[0].block, Bytes(8, 0));
  EXPECT_EQ(gInformationCalls[1].infoClass, FileEndOfFileInfo);
  EXPECT_EQ(gInformationCalls[1].block, Bytes(8, 0));
  EXPECT_TRUE(gTransfers.empty());
  EXPECT_EQ(testing::fileContent(path), pattern(10)) << "nothing written after a failed truncation";
}

TEST_F(FileOperationsTest, RenameReplacesAndReportsErrors) {
  auto from = scratch_ / u"from", to = scratch_ / u"to";
  testing::putFile(from, pattern(7));
  testing::putFile(to, pattern(3));
  ASSERT_TRUE(renameFile(from, to));
  EXPECT_FALSE(testing::fileExists(from));
  EXPECT_EQ(testing::fileContent(to), pattern(7));

  auto missing = renameFile(scratch_ / u"missing", to);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), Error::system(ERROR_FILE_NOT_FOUND));
  for (auto [a, b] : {std::pair{std::u16string(u"a\0", 2), to}, std::pair{to, std::u16string(u"b\0", 2)}}) {
    auto nul = renameFile(a, b);
    ASSERT_FALSE(nul);
    EXPECT_EQ(nul.error(), Error::of(ErrorKind::NulInPath));
  }
}

TEST_F(FileOperationsTest, DeniedRenameTriesTheHandleAndReportsAccessDenied) {
  // A destination held open with read sharing only: MoveFileExW is denied, and so is the handle-based rename
  // (Windows cannot replace a file held without delete sharing; Wine does not implement that rename and answers
  // with invalid parameter), which is reported as the first call's denial.
  auto from = scratch_ / u"from", to = scratch_ / u"held";
  testing::putFile(from, pattern(7));
  testing::putFile(to, pattern(3));
  UniqueHandle holder(CreateFileW(wide(to), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  auto denied = renameFile(from, to);
  ASSERT_FALSE(denied);
  EXPECT_EQ(denied.error(), Error::system(ERROR_ACCESS_DENIED));
  EXPECT_EQ(testing::fileContent(from), pattern(7));
}

TEST_F(FileOperationsTest, HandleRenameBlockAndErrorMappingThroughSeam) {
  auto from = scratch_ / u"from", to = scratch_ / u"held";
  testing::putFile(from, pattern(7));
  testing::putFile(to, pattern(3));
  UniqueHandle holder(CreateFileW(wide(to), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  calls_->setFileInformationByHandle = scriptedSetInformation;
  calls_->createFile = recordingOpen;
  // The source itself, a link included (not followed), opened only to be renamed, sharing everything.
  const Open sourceOpen{*systemPathForm(from, true), DELETE, 7, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, true};
  struct Case {
    BOOL result;
    DWORD lastError;
    Expected<void, Error> expected;
  };
  const Case cases[] = {
      {TRUE, 0, {}},
      {FALSE, ERROR_DIR_NOT_EMPTY, unexpected(Error::system(ERROR_DIR_NOT_EMPTY))},
      {FALSE, ERROR_INVALID_PARAMETER, unexpected(Error::system(ERROR_ACCESS_DENIED))},
      {FALSE, ERROR_SHARING_VIOLATION, unexpected(Error::system(ERROR_ACCESS_DENIED))},
  };
  for (const auto& c : cases) {
    gInformationCalls.clear();
    gOpens.clear();
    gInformationResult = c.result;
    gInformationError = c.lastError;
    auto result = renameFile(from, to);
    EXPECT_EQ(gOpens, std::vector<Open>{sourceOpen});
    ASSERT_EQ(result.has_value(), c.expected.has_value()) << c.lastError;
    if (!result) {
      EXPECT_EQ(result.error(), c.expected.error());
    }
    ASSERT_EQ(gInformationCalls.size(), 1u);
    EXPECT_EQ(gInformationCalls[0].infoClass, 22) << "FileRenameInfoEx";
    // The block: flags 3, no root folder, the name's byte length, the name in its system form with its NUL.
    const Bytes& block = gInformationCalls[0].block;
    const std::u16string name = *systemPathForm(to, true);
    const std::size_t nameOffset = offsetof(FILE_RENAME_INFO, FileName);
    ASSERT_EQ(block.size(), nameOffset + name.size() * 2 + 2);
    FILE_RENAME_INFO head;
    std::memcpy(&head, block.data(), nameOffset);
    EXPECT_EQ(head.Flags, 3u);
    EXPECT_EQ(head.RootDirectory, nullptr);
    EXPECT_EQ(head.FileNameLength, name.size() * 2);
    EXPECT_EQ(std::memcmp(block.data() + nameOffset, name.c_str(), name.size() * 2 + 2), 0);
  }
}

TEST_F(FileOperationsTest, RenameBlockThatCannotBeAllocatedIsOutOfMemoryThroughSeam) {
  auto from = scratch_ / u"from", to = scratch_ / u"held";
  testing::putFile(from, pattern(7));
  testing::putFile(to, pattern(3));
  UniqueHandle holder(CreateFileW(wide(to), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  calls_->allocate = failingAllocate;
  auto result = renameFile(from, to);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), Error::of(ErrorKind::OutOfMemory));
}

TEST_F(FileOperationsTest, RemoveDeletesAndReportsErrors) {
  auto path = scratch_ / u"gone";
  testing::putFile(path, pattern(4));
  ASSERT_TRUE(removeFile(path));
  EXPECT_FALSE(testing::fileExists(path));

  // Every failure but a denial is the result as it is, and nothing else is tried.
  const auto held = scratch_ / u"held";
  testing::putFile(held, pattern(4));
  UniqueHandle holder(CreateFileW(wide(held), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  calls_->setFileInformationByHandle = scriptedSetInformation;
  calls_->createFile = recordingOpen;
  const struct {
    const char* name;
    std::u16string path;
    Error error;
  } cases[] = {
      {"missing file", path, Error::system(ERROR_FILE_NOT_FOUND)},
      {"missing folder", scratch_ / u"missing\\gone", Error::system(ERROR_PATH_NOT_FOUND)},
      {"held open without delete sharing", held, Error::system(ERROR_SHARING_VIOLATION)},
      {"NUL in the path", std::u16string(u"x\0", 2), Error::of(ErrorKind::NulInPath)},
  };
  for (const auto& c : cases) {
    gInformationCalls.clear();
    gOpens.clear();
    auto removed = removeFile(c.path);
    ASSERT_FALSE(removed) << c.name;
    EXPECT_EQ(removed.error(), c.error) << c.name << ": " << removed.error().code;
    EXPECT_TRUE(gOpens.empty()) << c.name;
    EXPECT_TRUE(gInformationCalls.empty()) << c.name;
  }
  EXPECT_TRUE(testing::fileExists(held));
}

TEST_F(FileOperationsTest, ReadOnlyFileIsDeletedThroughTheHandle) {
  auto path = scratch_ / u"readonly";
  testing::putFile(path, pattern(4));
  ASSERT_TRUE(SetFileAttributesW(wide(path), FILE_ATTRIBUTE_READONLY));
  // For real: DeleteFileW is denied. Windows then deletes through the handle with FileDispositionInfoEx, ignoring
  // the read-only attribute, and so does Wine 10; Wine 8 does not implement that class (ERROR_INVALID_PARAMETER),
  // and the denial is reported.
  auto removed = removeFile(path);
  if (test::underWine() && test::wineMajorVersion() <= 8) {
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error(), Error::system(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(testing::fileExists(path));
  } else {
    EXPECT_TRUE(removed) << removed.error().code;
    EXPECT_FALSE(testing::fileExists(path));
  }
}

// The delete through a handle opens the name itself, a link without following it, so that deleting a read-only
// link removes the link and never its target; the disposition call is the one the system would honour. Wine can
// make a link only from the Linux side and always opens what a link points to (its delete through the handle
// would remove the target), so only the recorded calls can show this.
TEST_F(FileOperationsTest, HandleDeleteOpensALinkItselfThroughSeamAsWineFollowsEveryLink) {
  auto path = scratch_ / u"readonly";
  testing::putFile(path, pattern(4));
  ASSERT_TRUE(SetFileAttributesW(wide(path), FILE_ATTRIBUTE_READONLY));
  gInformationCalls.clear();
  gOpens.clear();
  gInformationResult = TRUE;
  calls_->setFileInformationByHandle = scriptedSetInformation;
  calls_->createFile = recordingOpen;
  ASSERT_TRUE(removeFile(path));
  EXPECT_EQ(gOpens, (std::vector<Open>{{*systemPathForm(path, true), DELETE, 7, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, true}}));
  ASSERT_EQ(gInformationCalls.size(), 1u);
  EXPECT_EQ(gInformationCalls[0].infoClass, 21) << "FileDispositionInfoEx";
  EXPECT_EQ(gInformationCalls[0].block, (Bytes{0x13, 0, 0, 0}));
}

}  // namespace
}  // namespace qmt
