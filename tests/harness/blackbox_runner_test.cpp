// The black-box runner driving a real GUI program (boxdemo) under Wine: box text read back exactly, exit status,
// environment, arguments, working folder, standard output, time-out, and boxes of other processes left alone.
#include <gmock/gmock.h>

#include <algorithm>

#include "blackbox_test.h"
#include "runtime/handle.h"
#include "under_wine.h"

namespace qmt::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Not;

SetupRun demo(const std::vector<std::wstring>& arguments) { return setupRun(arguments); }

// The UTF-16LE lines boxdemo wrote to its redirected standard output.
std::vector<std::wstring> reportLines(const std::wstring& file) {
  std::optional<std::string> bytes = readBytes(file);
  EXPECT_TRUE(bytes.has_value()) << "no report file";
  std::wstring text(bytes ? bytes->size() / 2 : 0, L'\0');
  if (bytes) std::copy_n(bytes->data(), text.size() * 2, reinterpret_cast<char*>(text.data()));
  std::vector<std::wstring> lines;
  for (std::size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

TEST(BlackboxRunnerTest, ReadsBoxTextExactlyAndCollectsExitStatus) {
  struct Case {
    const wchar_t* exitCode;
    std::optional<std::wstring> box;
    DWORD expectedExit;
  } cases[] = {
      {L"0", L"Der Ordner wurde nicht gefunden.", 0},
      {L"3", L"Die alte Version ließ sich nicht austauschen: ä ß Ä Ö Ü € \U0001F600", 3},
      {L"0", L"Zwei\r\nZeilen  mit Leerzeichen am Ende  ", 0},
      {L"0xC0000409", std::nullopt, 0xC0000409},
      {L"101", std::nullopt, 101},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(utf8Of(c.box.value_or(L"(no box)")));
    std::vector<std::wstring> arguments{c.exitCode};
    if (c.box) arguments.insert(arguments.end(), {L"--box", *c.box});
    SetupOutcome outcome = runSetupExe(demo(arguments));
    EXPECT_EQ(outcome.startError, 0u);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.exitCode, c.expectedExit);
    EXPECT_EQ(outcome.boxText, c.box);
  }
}

TEST(BlackboxRunnerTest, ArgumentsArriveUnchangedInWorkingFolder) {
  std::wstring folder = scratchFolder();
  std::wstring workDir = folder + L"\\Arbeits ordner ä";
  ASSERT_TRUE(CreateDirectoryW(workDir.c_str(), nullptr));
  const std::vector<std::wstring> tricky{
      L"plain", L"two words", L"", L"quote\"inside", L"trailing\\", L"dir with\\ trailing\\",
      L"\\\\\"mixed\\\"", L"tab\there", L"ümlaut ß",
  };
  std::vector<std::wstring> arguments{L"0"};
  arguments.insert(arguments.end(), tricky.begin(), tricky.end());
  SetupRun run = demo(arguments);
  run.workingDirectory = workDir;
  run.stdoutFile = folder + L"\\out.txt";
  SetupOutcome outcome = runSetupExe(run);
  ASSERT_EQ(outcome.exitCode, 0u);

  std::vector<std::wstring> expected{L"cwd=" + workDir, L"arg=0"};
  for (const std::wstring& a : tricky) expected.push_back(L"arg=" + a);
  EXPECT_THAT(reportLines(*run.stdoutFile), ElementsAreArray(expected));
}

TEST(BlackboxRunnerTest, EnvironmentChangesReachTheProgram) {
  std::wstring folder = scratchFolder();
  const std::wstring loneSurrogate{L'a', wchar_t(0xD800), L'b'};
  SetupRun run = demo({L"0", L"--env", L"QMT_PROBE", L"--env", L"LOCALAPPDATA", L"--env", L"QMT_EMPTY"});
  run.env = {setVariable(L"QMT_PROBE", L"weg"), unsetVariable(L"LOCALAPPDATA"), setVariable(L"qmt_probe", loneSurrogate),
             setVariable(L"QMT_EMPTY", L"")};
  run.stdoutFile = folder + L"\\out.txt";
  ASSERT_EQ(runSetupExe(run).exitCode, 0u);
  std::vector<std::wstring> lines = reportLines(*run.stdoutFile);
  EXPECT_THAT(lines, Contains(L"env:QMT_PROBE=" + loneSurrogate));
  EXPECT_THAT(lines, Contains(L"env:LOCALAPPDATA unset"));
  EXPECT_THAT(lines, Contains(L"env:QMT_EMPTY="));
}

TEST(BlackboxRunnerTest, EnvironmentBlockReplacesNamesCaseInsensitively) {
  SetEnvironmentVariableW(L"QMT_BLOCK_PROBE", L"alt");
  std::vector<wchar_t> block =
      environmentBlockWith({setVariable(L"qmt_block_probe", L"neu"), setVariable(L"QMT_ADDED", L"x=y")});
  ASSERT_GE(block.size(), 2u);
  EXPECT_EQ(block[block.size() - 1], L'\0');
  EXPECT_EQ(block[block.size() - 2], L'\0');
  std::vector<std::wstring> entries;
  for (const wchar_t* p = block.data(); *p != L'\0'; p += entries.back().size() + 1) entries.emplace_back(p);
  EXPECT_THAT(entries, Contains(L"qmt_block_probe=neu"));
  EXPECT_THAT(entries, Not(Contains(L"QMT_BLOCK_PROBE=alt")));
  EXPECT_THAT(entries, Contains(L"QMT_ADDED=x=y"));

  std::vector<wchar_t> without = environmentBlockWith({unsetVariable(L"QMT_BLOCK_PROBE")});
  std::wstring_view all(without.data(), without.size());
  EXPECT_EQ(all.find(L"QMT_BLOCK_PROBE="), std::wstring_view::npos);
  SetEnvironmentVariableW(L"QMT_BLOCK_PROBE", nullptr);
}

TEST(BlackboxRunnerTest, HungProgramIsEndedAtTheTimeout) {
  SetupRun run = demo({L"0", L"--sleep", L"60000"});
  run.timeoutMs = 300;
  SetupOutcome outcome = runSetupExe(run);
  EXPECT_TRUE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, DWORD{ERROR_TIMEOUT});
  EXPECT_FALSE(outcome.boxText.has_value());
}

TEST(BlackboxRunnerTest, BoxLeftOpenWhenAskedIsReadAndTheProgramTimesOut) {
  SetupRun run = demo({L"4", L"--box", L"bleibt offen"});
  run.closeBox = false;
  run.timeoutMs = 2000;
  SetupOutcome outcome = runSetupExe(run);
  EXPECT_TRUE(outcome.timedOut);
  EXPECT_EQ(outcome.boxText, L"bleibt offen");
  EXPECT_EQ(findQuillmartBox(), nullptr) << "the ended program's box must be gone";
}

TEST(BlackboxRunnerTest, BoxOfAnotherProcessIsLeftAlone) {
  std::wstring line = commandLineOf({setupExe(), L"7", L"--box", L"fremd"});
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessW(setupExe().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &info));
  UniqueProcessInformation other = UniqueProcessInformation::adopt(info);
  HWND foreign = nullptr;
  for (int i = 0; i < 500 && foreign == nullptr; ++i, Sleep(20)) foreign = findQuillmartBox(info.dwProcessId);
  ASSERT_NE(foreign, nullptr);

  SetupOutcome outcome = runSetupExe(demo({L"0", L"--box", L"eigen"}));
  EXPECT_EQ(outcome.boxText, L"eigen");
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(findQuillmartBox(info.dwProcessId), foreign);
  EXPECT_EQ(boxText(foreign), L"fremd");

  pressOk(foreign);
  ASSERT_EQ(WaitForSingleObject(other.process.get(), 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(other.process.get(), &code);
  EXPECT_EQ(code, 7u);
}

TEST(BlackboxRunnerTest, MissingProgramReportsTheStartError) {
  SetupRun run;
  run.exe = scratchFolder() + L"\\fehlt.exe";
  SetupOutcome outcome = runSetupExe(run);
  EXPECT_EQ(outcome.startError, DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_FALSE(outcome.boxText.has_value());
}

// Wine cannot be made to end a program in its own start-up on demand: the answers come from a seam.
TEST(BlackboxRunnerTest, StartEndedInWineStartupIsTriedAgainThroughSeam) {
  struct Case {
    std::vector<DWORD> answers;
    std::size_t wineCalls;
    DWORD wineResult;
  } cases[] = {
      {{0}, 1, 0},
      {{ERROR_INTERNAL_ERROR, 0}, 2, 0},
      {{ERROR_INTERNAL_ERROR, ERROR_INTERNAL_ERROR, ERROR_INTERNAL_ERROR, 0}, 3, ERROR_INTERNAL_ERROR},
      {{ERROR_FILE_NOT_FOUND, 0}, 1, ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers.front());
    std::size_t calls = 0;
    DWORD result = startRetryingWineStartup(L"seam.exe", [&] { return c.answers[calls++]; });
    // Windows documents no start-up failure of that kind: there the first answer stands.
    EXPECT_EQ(calls, underWine() ? c.wineCalls : 1u);
    EXPECT_EQ(result, underWine() ? c.wineResult : c.answers.front());
  }
}

TEST(BlackboxRunnerTest, FileHelpersSeeWhatIsOnDisk) {
  std::wstring folder = scratchFolder();
  const std::string binary("\0\x01\xFF\r\n\x1A", 6);
  ASSERT_TRUE(writeBytes(folder + L"\\b.bin", binary));
  ASSERT_TRUE(writeBytes(folder + L"\\a ä.txt", "x"));
  ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
  ASSERT_TRUE(writeBytes(folder + L"\\sub\\c", ""));

  EXPECT_EQ(readBytes(folder + L"\\b.bin"), binary);
  EXPECT_EQ(readBytes(folder + L"\\sub\\c"), "");
  EXPECT_EQ(readBytes(folder + L"\\fehlt"), std::nullopt);
  EXPECT_TRUE(exists(folder + L"\\sub"));
  EXPECT_FALSE(exists(folder + L"\\fehlt"));
  EXPECT_THAT(listFolder(folder), ElementsAre(L"a ä.txt", L"b.bin", L"sub\\"));
  EXPECT_TRUE(lastWriteTime(folder + L"\\b.bin").has_value());
  EXPECT_FALSE(lastWriteTime(folder + L"\\fehlt").has_value());

  EXPECT_TRUE(removeTree(folder));
  EXPECT_FALSE(exists(folder));
  std::wstring again = scratchFolder();
  EXPECT_EQ(again, folder);
  EXPECT_THAT(listFolder(again), ElementsAre());
}

TEST(BlackboxRunnerTest, ScratchFolderIsEmptiedForEachUse) {
  std::wstring first = scratchFolder();
  ASSERT_TRUE(writeBytes(first + L"\\alt", "old"));
  std::wstring second = scratchFolder();
  EXPECT_EQ(second, first);
  EXPECT_FALSE(exists(second + L"\\alt"));
}

}  // namespace
}  // namespace qmt::test
