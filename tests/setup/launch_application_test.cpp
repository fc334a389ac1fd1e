// Starting the installed application, in-process under Wine: the setup's command line is given through the seam
// so that the forwarded arguments are known; the demo application reports what it received.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "blackbox_test.h"
#include "started_application.h"
#include "launch/launch_application.h"

namespace qmt::test {
namespace {

using qmt::testing::DemoReport;

TEST(LaunchApplicationTest, ForwardsEverythingAfterTheSetupsProgramNameAndStartsInTheTargetFolder) {
  const std::wstring folder = scratchFolder();
  const std::wstring report = folder + L"\\report.bin";
  SetEnvironmentVariableW(L"QMT_DEMO_REPORT", report.c_str());
  const std::u16string program = u16(windowsPathOf(QMT_DEMO_APP));

  auto launched = launchApplicationFrom(u"\"C:\\Downloads\\Quillmart Setup.exe\" one \"two three\" \"\"",
                                        u16(folder), program);
  SetEnvironmentVariableW(L"QMT_DEMO_REPORT", nullptr);
  ASSERT_TRUE(launched.has_value()) << launched.error().text;

  std::optional<DemoReport> received = waitForReport(report);
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(received->value("commandLine"), u"\"" + program + u"\" one \"two three\" \"\"");
  EXPECT_EQ(received->arguments("crt"), (std::vector<std::u16string>{program, u"one", u"two three", u""}));
  EXPECT_EQ(received->value("cwd"), u16(folder));
}

TEST(LaunchApplicationTest, MissingOrUnusableApplicationIsReportedWithTheSystemsDescription) {
  const std::wstring folder = scratchFolder();
  const struct {
    const char* name;
    std::u16string program;
    std::u16string workingDirectory;
    std::string expected;
  } cases[] = {
      {"vanished after placement", u16(folder) + u"\\Quillmart.exe", u16(folder),
       "Quillmart konnte nicht gestartet werden: " + formatSystemError(2)},
      {"working folder gone", u16(windowsPathOf(QMT_DEMO_APP)), u16(folder) + u"\\gone",
       "Quillmart konnte nicht gestartet werden: " + formatSystemError(267)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto launched = launchApplicationFrom(u"setup.exe", c.workingDirectory, c.program);
    ASSERT_FALSE(launched.has_value());
    EXPECT_EQ(launched.error().text, c.expected);
  }
}

}  // namespace
}  // namespace qmt::test
