// synchronousTransfer's handling of the native statuses, through replaced NtReadFile / NtWriteFile (Wine's file
// transfers neither stay pending nor report pipe ends), and its fatal end for a transfer that stays pending.
#include "placement/synchronous_transfer.h"

#include <gtest/gtest.h>

#include <string>

#include "placement/file_system_calls.h"
#include "runtime/handle.h"
#include "runtime/wide.h"
#include "scoped_calls.h"
#include "scratch_folder.h"

namespace qmt {
namespace {

// What the replaced native call reports: its return value, and the status and count it leaves in the block.
NTSTATUS gReturned = 0;
NTSTATUS gBlockStatus = 0;
ULONG_PTR gBlockCount = 0;
ULONG gAskedLength = 0;
int gCalls = 0;

NTSTATUS NTAPI scriptedNtTransfer(HANDLE, HANDLE event, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK io, PVOID,
                                  ULONG length, PLARGE_INTEGER offset, PULONG) {
  ++gCalls;
  gAskedLength = length;
  EXPECT_EQ(event, nullptr);
  EXPECT_EQ(offset, nullptr) << "the file's own position is used";
  EXPECT_EQ(io->Status, 0x103) << "the block starts as pending";
  io->Status = gBlockStatus;
  io->Information = gBlockCount;
  return gReturned;
}

TEST(SynchronousTransferTest, StatusesThroughSeam) {
  constexpr NTSTATUS kPending = 0x103;
  struct Case {
    const char* name;
    TransferDirection direction;
    NTSTATUS returned, blockStatus;
    ULONG_PTR count;
    Expected<std::size_t, Error> expected;
  };
  const auto read = TransferDirection::Read, write = TransferDirection::Write;
  const auto failed = [](std::uint32_t code) -> Expected<std::size_t, Error> {
    return unexpected(Error::system(code));
  };
  const Case cases[] = {
      {"success", read, 0, 0, 17, std::size_t{17}},
      {"write success", write, 0, 0, 9, std::size_t{9}},
      {"pending, then done", read, kPending, 0, 5, std::size_t{5}},
      {"pending, then failed", write, kPending, static_cast<NTSTATUS>(0xC000007F), 0, failed(ERROR_DISK_FULL)},
      {"end of file", read, static_cast<NTSTATUS>(0xC0000011), 0, 0, std::size_t{0}},
      {"end of file fails a write", write, static_cast<NTSTATUS>(0xC0000011), 0, 0, failed(ERROR_HANDLE_EOF)},
      {"broken pipe ends a read", read, static_cast<NTSTATUS>(0xC000014B), 0, 0, std::size_t{0}},
      {"broken pipe fails a write", write, static_cast<NTSTATUS>(0xC000014B), 0, 0, failed(ERROR_BROKEN_PIPE)},
      {"pipe empty (no data) ends a read", read, static_cast<NTSTATUS>(0xC00000B1), 0, 0, std::size_t{0}},
      {"access denied", read, static_cast<NTSTATUS>(0xC0000022), 0, 0, failed(ERROR_ACCESS_DENIED)},
  };
  testing::ScopedCalls calls;
  calls->ntReadFile = calls->ntWriteFile = scriptedNtTransfer;
  // A signalled event stands in for the file handle that a pending transfer is waited on.
  UniqueHandle signalled(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  std::uint8_t buffer[32];
  for (const auto& c : cases) {
    gReturned = c.returned;
    gBlockStatus = c.blockStatus;
    gBlockCount = c.count;
    gCalls = 0;
    auto result = synchronousTransfer(c.direction, signalled.get(), buffer, sizeof buffer);
    EXPECT_EQ(gCalls, 1) << c.name << ": never retried";
    ASSERT_EQ(result.has_value(), c.expected.has_value()) << c.name;
    if (result) {
      EXPECT_EQ(*result, *c.expected) << c.name;
    } else {
      EXPECT_EQ(result.error(), c.expected.error()) << c.name << " " << result.error().code;
    }
  }
}

TEST(SynchronousTransferTest, LengthIsCappedAt32BitsThroughSeam) {
  testing::ScopedCalls calls;
  calls->ntWriteFile = scriptedNtTransfer;
  gReturned = gBlockStatus = 0;
  gBlockCount = 1;
  // The replaced call never touches the buffer, so none is needed for the huge length.
  auto result = synchronousTransfer(TransferDirection::Write, nullptr, nullptr, std::size_t{1} << 33);
  ASSERT_TRUE(result);
  EXPECT_EQ(gAskedLength, 0xFFFFFFFFu);
}

std::u16string besideThisProgram(std::u16string_view name) {
  wchar_t buffer[4096];
  std::u16string self(fromWide(buffer, GetModuleFileNameW(nullptr, buffer, 4096)));
  return self.substr(0, self.find_last_of(u'\\') + 1) + std::u16string(name);
}

TEST(SynchronousTransferTest, TransferStillPendingEndsTheProcessThroughSeam) {
  testing::ScratchFolder scratch;
  const std::u16string errorPath = scratch / u"stderr.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueHandle errorFile(CreateFileW(wide(errorPath), GENERIC_WRITE, 7, &inherit, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(errorFile);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = errorFile.get();
  std::wstring commandLine = L"placement_pending_transfer";
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessW(wide(besideThisProgram(u"placement_pending_transfer.exe")), commandLine.data(), nullptr,
                             nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info));
  auto process = UniqueProcessInformation::adopt(info);
  ASSERT_EQ(WaitForSingleObject(process.process.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD exitCode = 0;
  GetExitCodeProcess(process.process.get(), &exitCode);
  EXPECT_EQ(exitCode, 0xC0000409u) << "ended at once by fail-fast";
  errorFile.reset();
  auto text = testing::fileContent(errorPath);
  EXPECT_EQ(std::string(text.begin(), text.end()),
            "fatal runtime error: I/O error: operation failed to complete synchronously, aborting\n");
}

}  // namespace
}  // namespace qmt
