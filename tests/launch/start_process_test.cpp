// startProcess against real processes under Wine: argv_reporter tells what it received.
#include "launch/start_process.h"

#include <gtest/gtest.h>

#include <random>

#include "launch/command_line.h"
#include "launch_test_support.h"
#include "runtime/text.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

using Args = std::vector<std::u16string>;
using test::Report;

std::string show(const std::u16string& s) { return utf16ToUtf8Lossy(s); }

// Starts `request`, waits for it and returns what it reported.
Report runReporter(const ProcessSpec& request, const std::u16string& reportName) {
  const std::u16string reportPath = test::prepareReport(reportName);
  auto started = startProcess(request);
  if (!started) {
    ADD_FAILURE() << "startProcess failed: kind " << int(started.error().kind) << " code " << started.error().code;
    return {};
  }
  EXPECT_EQ(test::waitForExit(started->processHandle.get()), 0u);
  auto report = test::readReport(reportPath);
  if (!report) ADD_FAILURE() << "no report at " << show(reportPath);
  return report.value_or(Report{});
}

// Both the C runtime and CommandLineToArgvW of the started program split the written command line into the
// program path and exactly the given arguments.
TEST(StartProcessTest, ArgumentsReachTheProgramUnchanged) {
  const struct {
    const char* name;
    Args arguments;
  } cases[] = {
      {"none", {}},
      {"switch, path with blank, empty", {u"/s", u"Z:\\My Data", u""}},
      {"quotes", {u"a\"b", u"\"", u"say \"hi\" now", u"\"\""}},
      {"backslashes", {u"a\\\\b", u"a\\\"b", u"C:\\Program Files\\", u"C:\\data\\", u"\\\\srv\\share\\", u"\\"}},
      {"blanks and tabs", {u" ", u"\t", u"a\tb", u"  lead", u"trail  "}},
      {"empty arguments around others", {u"", u"x", u"", u""}},
      {"beyond ASCII", {u"\u00E4\u00DF\u20AC", u"\U0001F600", u"caf\u00E9 cr\u00E8me"}},
      {"unpaired surrogates", {std::u16string{char16_t(0xD800)}, std::u16string{u'a', char16_t(0xDC01), u' '}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessSpec request{test::reporterPath(), c.arguments, std::nullopt};
    const Report report = runReporter(request, u"arguments");
    Args expected{request.program};
    expected.insert(expected.end(), c.arguments.begin(), c.arguments.end());
    EXPECT_EQ(report.commandLine, *buildCommandLine(request.program, c.arguments)) << show(report.commandLine);
    EXPECT_EQ(report.crtArgv, expected);
    EXPECT_EQ(report.shellArgv, expected);
  }
}

// Random argument lists drawn mostly from the units the quoting rules treat specially: the real peers agree
// with splitCommandLine for each of them.
TEST(StartProcessTest, RandomArgumentsReachTheProgramUnchanged) {
  const char16_t alphabet[] = {u' ', u'\t', u'"', u'\\', u'a', u'\u00E4', char16_t(0xD800), u'/'};
  std::mt19937 random(8122026);
  for (int round = 0; round < 25; ++round) {
    Args arguments(random() % 5);
    for (auto& argument : arguments) {
      argument.resize(random() % 7);
      for (char16_t& unit : argument) unit = alphabet[random() % std::size(alphabet)];
    }
    const ProcessSpec request{test::reporterPath(), arguments, std::nullopt};
    const Report report = runReporter(request, u"random");
    Args expected{request.program};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    ASSERT_EQ(report.crtArgv, expected) << "round " << round << ": " << show(report.commandLine);
    ASSERT_EQ(report.shellArgv, expected) << "round " << round << ": " << show(report.commandLine);
  }
}

TEST(StartProcessTest, ProgramInFolderWithBlankAndUmlaut) {
  const std::u16string folder = test::workFolder() + u"\\dir with blank \u00E4";
  test::createFolders(folder);
  const std::u16string program = folder + u"\\argv reporter.exe";
  ASSERT_TRUE(CopyFileW(wide(test::reporterPath()), wide(program), FALSE));
  const Report report = runReporter({program, {u"x y"}, std::nullopt}, u"blank-folder");
  EXPECT_EQ(report.commandLine, u"\"" + program + u"\" \"x y\"");
  EXPECT_EQ(report.crtArgv, (Args{program, u"x y"}));
}

TEST(StartProcessTest, WorkingDirectory) {
  const std::u16string folder = test::workFolder() + u"\\cwd";
  test::createFolders(folder);
  const struct {
    const char* name;
    std::optional<std::u16string> workingDirectory;
    std::u16string current;
  } cases[] = {
      {"drive path", folder, folder},
      {"extended-length drive path", u"\\\\?\\" + folder, folder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Report report = runReporter({test::reporterPath(), {}, c.workingDirectory}, u"cwd");
    EXPECT_EQ(show(report.currentDirectory), show(c.current));
  }
}

TEST(StartProcessTest, AbsentWorkingDirectoryIsTheCallers) {
  wchar_t buffer[4096];
  const std::u16string own(fromWide(buffer, GetCurrentDirectoryW(4096, buffer)));
  const Report report = runReporter({test::reporterPath(), {}, std::nullopt}, u"own-cwd");
  EXPECT_EQ(show(report.currentDirectory), show(own));
}

// A relative program is started through its full path while the command line keeps it relative.
TEST(StartProcessTest, RelativeProgram) {
  const std::u16string folder = test::workFolder() + u"\\rel base\\sub dir";
  test::createFolders(folder);
  ASSERT_TRUE(CopyFileW(wide(test::reporterPath()), wide(folder + u"\\r.exe"), FALSE));
  wchar_t saved[4096];
  GetCurrentDirectoryW(4096, saved);
  ASSERT_TRUE(SetCurrentDirectoryW(wide(test::workFolder() + u"\\rel base")));
  const Report report = runReporter({u"sub dir\\r.exe", {u"a"}, std::nullopt}, u"relative");
  SetCurrentDirectoryW(saved);
  EXPECT_EQ(report.commandLine, u"\"sub dir\\r.exe\" a");
  EXPECT_EQ(report.crtArgv, (Args{u"sub dir\\r.exe", u"a"}));
}

TEST(StartProcessTest, SystemFailures) {
  const std::u16string textExe = test::workFolder() + u"\\not a program.exe";
  const HANDLE file = CreateFileW(wide(textExe), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, "just text\r\n", 11, &written, nullptr);
  CloseHandle(file);
  const struct {
    const char* name;
    ProcessSpec request;
    DWORD code;
  } cases[] = {
      {"missing program", {test::workFolder() + u"\\missing.exe", {}, std::nullopt}, ERROR_FILE_NOT_FOUND},
      {"text file named .exe", {textExe, {}, std::nullopt}, ERROR_BAD_EXE_FORMAT},
      {"batch file", {test::workFolder() + u"\\run.bat", {u"&calc"}, std::nullopt}, ERROR_BAD_EXE_FORMAT},
      {"missing working directory", {test::reporterPath(), {}, test::workFolder() + u"\\no such folder"},
       ERROR_DIRECTORY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto started = startProcess(c.request);
    ASSERT_FALSE(started.has_value());
    EXPECT_EQ(started.error(), Error::system(c.code));
  }
}

}  // namespace
}  // namespace qmt
