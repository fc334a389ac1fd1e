// placeFile on the real (Wine) file system: the situations of the version swap that Wine can produce for real,
// and the others through the replaceable operations and system calls.
#include "placement/place_file.h"

#include <gtest/gtest.h>

#include "placement/file_access.h"
#include "placement/place_file_steps.h"
#include "runtime/handle.h"
#include "runtime/wide.h"
#include "scoped_calls.h"
#include "scratch_folder.h"
#include "under_wine.h"

namespace qmt {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::fileContent;
using testing::fileExists;
using testing::putFile;
using testing::ScopedCalls;
using testing::ScratchFolder;

const Bytes kOldBytes = bytesOf("old version of the file");
const Bytes kNewBytes = bytesOf("new version of the file");

std::u16string besideThisProgram(std::u16string_view name) {
  wchar_t buffer[4096];
  std::u16string self(fromWide(buffer, GetModuleFileNameW(nullptr, buffer, 4096)));
  return self.substr(0, self.find_last_of(u'\\') + 1) + std::u16string(name);
}

Bytes fileBytes(const std::u16string& path) { return fileContent(path); }

// Back-dates a file's modification time, so that any write to it, or a new file in its place, shows.
void backDate(const std::u16string& path) {
  UniqueHandle file(CreateFileW(wide(path), FILE_WRITE_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr));
  FILETIME past{0x5A5A0000, 0x01D00000};
  ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &past));
}

class PlaceFileTest : public ::testing::Test {
 protected:
  ScratchFolder scratch_;
  std::u16string target_ = scratch_ / u"Quillmart.exe";
  std::u16string neu_ = scratch_ / u"Quillmart.neu";
  std::u16string alt_ = scratch_ / u"Quillmart.exe.alt";
};

TEST_F(PlaceFileTest, IdenticalFileIsLeftUntouched) {
  putFile(target_, kNewBytes);
  backDate(target_);
  ASSERT_TRUE(SetFileAttributesW(wide(target_), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
  const auto before = *queryAttributes(target_);
  ASSERT_TRUE(placeFile(target_, kNewBytes));
  const auto after = *queryAttributes(target_);
  EXPECT_EQ(after.lastWriteTime, before.lastWriteTime);
  EXPECT_EQ(after.attributes, before.attributes);
  EXPECT_FALSE(fileExists(neu_));
  EXPECT_FALSE(fileExists(alt_));
  SetFileAttributesW(wide(target_), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(PlaceFileTest, NewOrReplaceableFileTakesItsPlace) {
  struct Case {
    const char* situation;
    std::optional<Bytes> before;
    Bytes content;
  };
  const Case cases[] = {
      {"no file yet", std::nullopt, kNewBytes},
      {"different file", kOldBytes, kNewBytes},
      {"same length, one byte differs", bytesOf("new version of the filE"), kNewBytes},
      {"empty content, no file", std::nullopt, Bytes{}},
      {"empty content over empty file", Bytes{}, Bytes{}},
  };
  for (const auto& c : cases) {
    DeleteFileW(wide(target_));
    if (c.before) putFile(target_, *c.before);
    putFile(alt_, bytesOf("earlier"));
    ASSERT_TRUE(placeFile(target_, c.content)) << c.situation;
    EXPECT_EQ(fileBytes(target_), c.content) << c.situation;
    EXPECT_FALSE(fileExists(neu_)) << c.situation;
    EXPECT_EQ(fileBytes(alt_), bytesOf("earlier")) << c.situation << ": an earlier .alt stays";
  }
}

TEST_F(PlaceFileTest, RunningApplicationIsMovedAsideAndReplaced) {
  // The running program's file cannot be replaced, but it can be renamed while the program keeps running.
  ASSERT_TRUE(CopyFileW(wide(besideThisProgram(u"placement_sleeper.exe")), wide(target_), FALSE));
  const Bytes running = fileBytes(target_);
  putFile(alt_, bytesOf("earlier"));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::wstring commandLine = L"sleeper";
  ASSERT_TRUE(CreateProcessW(wide(target_), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                             nullptr, &startup, &info));
  auto process = UniqueProcessInformation::adopt(info);
  putFile(scratch_ / u"probe", kOldBytes);
  ASSERT_FALSE(MoveFileExW(wide(scratch_ / u"probe"), wide(target_), MOVEFILE_REPLACE_EXISTING))
      << "the running program's file must not be replaceable for this test";

  auto placed = placeFile(target_, kNewBytes);
  EXPECT_TRUE(placed) << (placed ? "" : placed.error().text);
  EXPECT_EQ(fileBytes(target_), kNewBytes);
  EXPECT_EQ(fileBytes(alt_), running) << "the running program's file, under .alt";
  EXPECT_FALSE(fileExists(neu_));
  EXPECT_EQ(WaitForSingleObject(process.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "still running";
  TerminateProcess(process.process.get(), 0);
  WaitForSingleObject(process.process.get(), 10000);
}

TEST_F(PlaceFileTest, LeftoverAltInUseMakesTheSwapFail) {
  // The target is held open with full sharing (MoveFileExW cannot replace it, but it can be renamed); the
  // leftover .alt is held without delete sharing, so it can be neither removed nor replaced.
  putFile(target_, kOldBytes);
  putFile(alt_, bytesOf("earlier"));
  UniqueHandle target(CreateFileW(wide(target_), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr));
  UniqueHandle alt(CreateFileW(wide(alt_), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(target && alt);
  auto placed = placeFile(target_, kNewBytes);
  if (!test::underWine()) {
    // Windows replaces a target held with delete sharing through the handle-based rename with POSIX semantics
    // (Wine does not implement it), so no swap is needed.
    ASSERT_TRUE(placed) << placed.error().text;
    EXPECT_EQ(fileBytes(target_), kNewBytes);
    EXPECT_FALSE(fileExists(neu_));
    EXPECT_EQ(fileBytes(alt_), bytesOf("earlier"));
    return;
  }
  ASSERT_FALSE(placed);
  EXPECT_EQ(placed.error().text, std::string(message::kNotSwapped) + describeError(Error::system(ERROR_ACCESS_DENIED)));
  EXPECT_TRUE(placed.error().text.starts_with("Die alte Version ließ sich nicht austauschen: "));
  EXPECT_EQ(fileBytes(target_), kOldBytes);
  EXPECT_EQ(fileBytes(neu_), kNewBytes) << "the complete new version stays";
  EXPECT_EQ(fileBytes(alt_), bytesOf("earlier"));
}

TEST_F(PlaceFileTest, NewVersionThatCannotBeCreatedFailsWithTargetUnchanged) {
  putFile(target_, kOldBytes);
  testing::makeFolder(neu_);  // a folder where the new version would go
  auto placed = placeFile(target_, kNewBytes);
  ASSERT_FALSE(placed);
  EXPECT_TRUE(placed.error().text.starts_with("Quillmart konnte nicht entpackt werden: ")) << placed.error().text;
  EXPECT_NE(placed.error().text.find("(os error "), std::string::npos);
  EXPECT_EQ(fileBytes(target_), kOldBytes);
  RemoveDirectoryW(wide(neu_));
}

// Real file operations with one call replaced: the final rename onto the target fails.
PlacementOperations withFailingFinalRename(const std::u16string& neu, const std::u16string& target) {
  PlacementOperations ops{
      [](std::u16string_view p, std::span<const std::uint8_t> c) { return holdsExactly(p, c); },
      [](std::u16string_view p, std::span<const std::uint8_t> c) { return writeWholeFile(p, c); },
      [](std::u16string_view p) { return isPresent(p); },
      nullptr,
      [](std::u16string_view p) { return removeFile(p); },
  };
  ops.renameFile = [=](std::u16string_view from, std::u16string_view to) -> Expected<void, Error> {
    // .neu onto the target is both the direct replacement and the final rename: both fail.
    if (from == neu && to == target) return unexpected(Error::system(ERROR_ACCESS_DENIED));
    return renameFile(from, to);
  };
  return ops;
}

TEST_F(PlaceFileTest, FinalRenameFailureLeavesNoNeuThroughSeam) {
  // No old file: the target stays absent, .neu is removed.
  auto fresh = placeFileWith(withFailingFinalRename(neu_, target_), target_, kNewBytes);
  ASSERT_FALSE(fresh);
  EXPECT_EQ(fresh.error().step, PlacementStep::MoveNewIntoPlace);
  EXPECT_FALSE(fileExists(target_));
  EXPECT_FALSE(fileExists(neu_));
  // An old file: it was moved aside and stays under .alt, with the failure reported.
  putFile(target_, kOldBytes);
  auto aside = placeFileWith(withFailingFinalRename(neu_, target_), target_, kNewBytes);
  ASSERT_FALSE(aside);
  EXPECT_EQ(aside.error().step, PlacementStep::MoveNewIntoPlace);
  EXPECT_FALSE(fileExists(target_));
  EXPECT_FALSE(fileExists(neu_));
  EXPECT_EQ(fileBytes(alt_), kOldBytes);
  // The next run completes the update.
  ASSERT_TRUE(placeFile(target_, kNewBytes));
  EXPECT_EQ(fileBytes(target_), kNewBytes);
}

// A transfer that writes part of the first write and then fails, as when the setup dies while writing .neu.
Expected<std::size_t, Error> failingPartWay(TransferDirection direction, HANDLE file, std::uint8_t* buffer,
                                            std::size_t length) {
  if (direction == TransferDirection::Read) return synchronousTransfer(direction, file, buffer, length);
  (void)synchronousTransfer(direction, file, buffer, length / 3);
  return unexpected(Error::system(ERROR_DISK_FULL));
}

TEST_F(PlaceFileTest, FaultWhileWritingTheNewVersionLosesNothingThroughSeam) {
  putFile(target_, kOldBytes);
  Bytes big(300000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i % 251);
  {
    ScopedCalls calls;
    calls->transfer = failingPartWay;
    auto placed = placeFile(target_, big);
    ASSERT_FALSE(placed);
    EXPECT_EQ(placed.error().text, std::string(message::kNotUnpacked) + describeError(Error::system(ERROR_DISK_FULL)));
  }
  EXPECT_EQ(fileBytes(target_), kOldBytes) << "the target is never written in place";
  EXPECT_EQ(fileBytes(neu_).size(), big.size() / 3) << "a partial .neu stays";
  // The next run truncates the stale .neu and completes the update.
  ASSERT_TRUE(placeFile(target_, big));
  EXPECT_EQ(fileBytes(target_), big);
  EXPECT_FALSE(fileExists(neu_));
}

TEST_F(PlaceFileTest, SetupEndedWhileWritingTheNewVersionLosesNothing) {
  // Another process places the file and ends in the middle of writing .neu (see interrupted_placement.cpp).
  putFile(target_, kOldBytes);
  std::string narrowTarget(target_.begin(), target_.end());
  std::wstring commandLine =
      L"placement_interrupted \"" + std::wstring(narrowTarget.begin(), narrowTarget.end()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessW(wide(besideThisProgram(u"placement_interrupted.exe")), commandLine.data(), nullptr,
                             nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info));
  auto process = UniqueProcessInformation::adopt(info);
  ASSERT_EQ(WaitForSingleObject(process.process.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD exitCode = 0;
  GetExitCodeProcess(process.process.get(), &exitCode);
  ASSERT_EQ(exitCode, 9u) << "the helper must have died inside the write";

  EXPECT_EQ(fileBytes(target_), kOldBytes) << "the target is as it was";
  EXPECT_EQ(fileBytes(neu_).size(), 100000u) << "a partial .neu is left";
  Bytes content(300000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i % 251);
  ASSERT_TRUE(placeFile(target_, content)) << "the next run completes the update";
  EXPECT_EQ(fileBytes(target_), content);
  EXPECT_FALSE(fileExists(neu_));
}

TEST_F(PlaceFileTest, UnreadableTargetIsTreatedAsDifferentThroughSeam) {
  putFile(target_, kNewBytes);  // identical bytes, but reading is denied: placement writes and swaps anyway
  static std::u16string denied;
  denied = *systemPathForm(target_, true);
  ScopedCalls calls;
  calls->createFile = [](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                         DWORD flags, HANDLE templ) -> HANDLE {
    if (access == GENERIC_READ && fromWide(name) == denied) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(name, access, share, sa, disposition, flags, templ);
  };
  backDate(target_);
  const auto before = *queryAttributes(target_);
  ASSERT_TRUE(placeFile(target_, kNewBytes));
  EXPECT_EQ(fileBytes(target_), kNewBytes);
  EXPECT_FALSE(fileExists(neu_));
  EXPECT_NE(queryAttributes(target_)->lastWriteTime, before.lastWriteTime) << "a new file took the target's place";
}

}  // namespace
}  // namespace qmt
