#pragma once
// What a black-box GoogleTest program registered with qmt_add_blackbox_test knows about its build: the setup
// executable under test and a scratch root under the build folder (both given as Unix paths at compile time).

#include <gtest/gtest.h>

#include "blackbox.h"

#if !defined(QMT_SETUP_EXE) || !defined(QMT_SCRATCH_ROOT)
#error "register this test with qmt_add_blackbox_test"
#endif

namespace qmt::test {

// Windows path of the setup executable under test.
inline std::wstring setupExe() { return windowsPathOf(QMT_SETUP_EXE); }

// A fresh empty folder for the running test, named after it, below the scratch root.
inline std::wstring scratchFolder() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
  for (char& c : name) {
    if (c == '/') c = '_';  // parameterised test names
  }
  return freshFolder(windowsPathOf(QMT_SCRATCH_ROOT), utf16Of(name));
}

// The setup with its quoted name and the given arguments.
inline SetupRun setupRun(const std::vector<std::wstring>& arguments = {}) {
  SetupRun run;
  run.exe = setupExe();
  std::vector<std::wstring> all{run.exe};
  all.insert(all.end(), arguments.begin(), arguments.end());
  run.commandLine = commandLineOf(all);
  return run;
}

}  // namespace qmt::test
