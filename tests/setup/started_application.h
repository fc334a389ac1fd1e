#pragma once
// What the started demo application reports, as seen from a test: it writes its report after the setup (or the
// launch) has returned, and the report appears complete or not at all.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "blackbox.h"
#include "demo_report.h"

namespace qmt::test {

inline std::u16string u16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

// The report at `path`, waiting up to `milliseconds` for it; nullopt when the application never wrote one.
inline std::optional<qmt::testing::DemoReport> waitForReport(const std::wstring& path, int milliseconds = 15000) {
  for (int waited = 0; waited < milliseconds; waited += 50) {
    if (exists(path)) {
      // A report that cannot be read yet (still held open by another reader, say) is tried again.
      if (auto report = qmt::testing::DemoReport::load(std::filesystem::path(path))) return report;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return std::nullopt;
}

}  // namespace qmt::test
