// Two setups started at the same moment into the same fresh folder, as a user double-clicking twice would: with a
// Quillmart.exe of 10 MB both are unpacking and placing at the same time unless one waits for the other. Every
// round must end with both files in place byte for byte, no old or new version left beside them, no box, and the
// application started by each setup.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "blackbox_test.h"
#include "started_application.h"

namespace qmt::test {
namespace {

constexpr int kRounds = 16;

std::wstring joined(const std::vector<std::wstring>& names) {
  std::wstring all;
  for (const auto& name : names) all += name + L" ";
  return all;
}

TEST(ConcurrentSetupsTest, TwoSetupsStartedTogetherLeaveAWorkingInstallation) {
  const std::wstring root = scratchFolder();
  const std::optional<std::string> application = readBytes(windowsPathOf(QMT_LARGE_APP));
  const std::optional<std::string> loader = readBytes(windowsPathOf(QMT_DEMO_LOADER));
  ASSERT_TRUE(application && application->size() > 8'000'000u);
  ASSERT_TRUE(loader.has_value());

  int broken = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const std::wstring data = root + L"\\" + std::to_wstring(round);
    const std::wstring target = data + L"\\programme";
    std::array<SetupRun, 2> runs;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      runs[i] = setupRun();
      const std::wstring report = data + L"-report" + std::to_wstring(i);
      runs[i].env = {setVariable(L"QMT_DATA", data), setVariable(L"QMT_DEMO_REPORT", report)};
      runs[i].timeoutMs = 60000;
    }
    std::array<SetupOutcome, 2> outcomes;
    std::thread second([&] { outcomes[1] = runSetupExe(runs[1]); });
    outcomes[0] = runSetupExe(runs[0]);
    second.join();

    // Each failed expectation is reported; the round counts as broken when any of them failed.
    bool clean = true;
    auto expect = [&clean](bool holds, const std::string& what) {
      if (!holds) ADD_FAILURE() << what;
      clean = clean && holds;
    };
    for (const SetupOutcome& outcome : outcomes) {
      expect(outcome.startError == 0 && !outcome.timedOut && outcome.exitCode == 0, "a setup did not end with 0");
      expect(!outcome.boxText, "box: " + utf8Of(outcome.boxText.value_or(L"")));
    }
    const std::vector<std::wstring> files = listFolder(target);
    expect(files == std::vector<std::wstring>{L"Quillmart.exe", L"WebView2Loader.dll"},
           "the folder holds: " + utf8Of(joined(files)));
    expect(readBytes(target + L"\\Quillmart.exe") == application, "Quillmart.exe differs");
    expect(readBytes(target + L"\\WebView2Loader.dll") == loader, "WebView2Loader.dll differs");
    for (std::size_t i = 0; i < runs.size(); ++i) {
      expect(waitForReport(data + L"-report" + std::to_wstring(i)).has_value(),
             "setup " + std::to_string(i) + " did not start the application");
    }
    if (!clean) ++broken;
  }
  std::printf("%d rounds of two setups started together, %d of them broken\n", kRounds, broken);
}

}  // namespace
}  // namespace qmt::test
