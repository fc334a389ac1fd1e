// The setup's abnormal ends, watched from outside: each case starts runtime_probe.exe (built with the setup's
// runtime support) as a child process with its standard output and error going to files, waits for it, and checks
// the exit code that a Windows parent sees and what the child wrote.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring windowsPath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p != '\0'; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

// A fresh folder of its own for each case, removed with its files at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"qmt-runtime-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter_++);
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ScratchFolder() {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileW((path_ + L"\\" + found.cFileName).c_str());
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    RemoveDirectoryW(path_.c_str());
  }
  const std::wstring& path() const { return path_; }
  std::wstring file(const wchar_t* name) const { return path_ + L"\\" + name; }

 private:
  static inline int counter_ = 0;
  std::wstring path_;
};

std::string readFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<unreadable>";
  std::string text;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  return text;
}

HANDLE createInheritable(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct ChildEnd {
  DWORD exitCode = 0;
  std::string out;
  std::string err;
  bool timedOut = false;
};

// Runs `program mode argument` in `workingFolder`, its output and errors going to files in `scratch`.
ChildEnd runChild(const std::wstring& program, const std::wstring& mode, const std::wstring& argument,
                  const ScratchFolder& scratch, const std::wstring& workingFolder) {
  ChildEnd end;
  const std::wstring outPath = scratch.file(L"stdout.txt");
  const std::wstring errPath = scratch.file(L"stderr.txt");
  HANDLE out = createInheritable(outPath);
  HANDLE err = createInheritable(errPath);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::wstring commandLine = L"\"" + program + L"\" " + mode + L" " + argument;
  PROCESS_INFORMATION process = {};
  const BOOL created = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      workingFolder.c_str(), &startup, &process);
  const DWORD createError = GetLastError();
  CloseHandle(out);
  CloseHandle(err);
  if (!created) {
    ADD_FAILURE() << "CreateProcessW failed with " << createError;
    return end;
  }
  // A generous bound: a child that does not end has stopped in a message box or hangs.
  if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
    end.timedOut = true;
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  GetExitCodeProcess(process.hProcess, &end.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  end.out = readFile(outPath);
  end.err = readFile(errPath);
  return end;
}

struct AbnormalEnd {
  const wchar_t* mode;
  DWORD exitCode;
  const char* stderrText;  // exact, or the start of it when `prefixOnly`
  bool prefixOnly;
};

class RuntimeSupportEnds : public ::testing::TestWithParam<AbnormalEnd> {};

TEST_P(RuntimeSupportEnds, EndWithTheirStatusAndReport) {
  const AbnormalEnd& c = GetParam();
  ScratchFolder scratch;
  ChildEnd end = runChild(windowsPath(QMT_PROBE_EXE), c.mode, L"", scratch, scratch.path());
  ASSERT_FALSE(end.timedOut) << "the child did not end (a message box?)";
  EXPECT_EQ(end.exitCode, c.exitCode) << std::hex << end.exitCode;
  if (c.prefixOnly) {
    EXPECT_EQ(end.err.rfind(c.stderrText, 0), 0u) << end.err;
    EXPECT_EQ(end.err.back(), '\n');
  } else {
    EXPECT_EQ(end.err, c.stderrText);
  }
  EXPECT_EQ(end.out, "");
}

constexpr DWORD kFailFast = 0xC0000409;  // STATUS_STACK_BUFFER_OVERRUN, the status of a fail-fast end
constexpr DWORD kStackOverflow = 0xC00000FD;
constexpr DWORD kInternalFault = 101;

INSTANTIATE_TEST_SUITE_P(
    Probe, RuntimeSupportEnds,
    ::testing::Values(
        AbnormalEnd{L"out-of-memory", kFailFast, "memory allocation of 1152921504606846976 bytes failed\n", false},
        AbnormalEnd{L"reserved-out-of-memory", kFailFast, "memory allocation of 1152921504606846976 bytes failed\n",
                    false},
        AbnormalEnd{L"stack-overflow", kStackOverflow, "the main thread has overflowed its stack\n", false},
        AbnormalEnd{L"terminate", kInternalFault, "internal fault: terminate called\n", false},
        AbnormalEnd{L"uncaught-throw", kInternalFault, "internal fault: terminate called\n", false},
        AbnormalEnd{L"vector-at", kInternalFault, "internal fault: vector::_M_range_check", true},
        AbnormalEnd{L"string-too-long", kInternalFault, "internal fault: basic_string::_M_create\n", false},
        AbnormalEnd{L"soft-allocations", 0, "", false},
        AbnormalEnd{L"static-constructor", 0, "", false}),
    [](const ::testing::TestParamInfo<AbnormalEnd>& param) {
      std::string name;
      for (const wchar_t* p = param.param.mode; *p != L'\0'; ++p) {
        if (*p != L'-') name += static_cast<char>(*p);
      }
      return name;
    });

// DLL planting: a DLL put next to the program, or into its current folder, is found by a plain-name
// LoadLibraryW in a program started without the setup's start-up preparation (the control case, showing the plant is
// in reach) and not in one started as the setup is.
struct Planting {
  const char* name;
  bool besideProgram;  // otherwise in the current folder, with the program elsewhere
  bool prepared;
  bool expectLoaded;
};

class DllPlanting : public ::testing::TestWithParam<Planting> {};

TEST_P(DllPlanting, OnlyTheSystemFolderIsSearchedAfterPreparation) {
  const Planting& c = GetParam();
  ScratchFolder programFolder;
  ScratchFolder plantFolder;
  const std::wstring program = programFolder.file(L"runtime_probe.exe");
  const char* probe = c.prepared ? QMT_PROBE_EXE : QMT_UNPREPARED_PROBE_EXE;
  ASSERT_TRUE(CopyFileW(windowsPath(probe).c_str(), program.c_str(), FALSE));
  const ScratchFolder& target = c.besideProgram ? programFolder : plantFolder;
  const std::wstring planted = target.file(L"qmtplanted.dll");
  ASSERT_TRUE(CopyFileW(windowsPath(QMT_PLANTED_DLL).c_str(), planted.c_str(), FALSE));

  ChildEnd end = runChild(program, L"load-dll", L"qmtplanted.dll", programFolder, plantFolder.path());
  ASSERT_FALSE(end.timedOut);
  if (c.expectLoaded) {
    EXPECT_EQ(end.exitCode, 0u) << end.out;
    EXPECT_EQ(end.out, "loaded " + std::string(planted.begin(), planted.end()));
  } else {
    EXPECT_EQ(end.exitCode, 1u) << end.out;
    EXPECT_EQ(end.out, "not loaded 126") << "ERROR_MOD_NOT_FOUND";
  }
  EXPECT_EQ(end.err, "");
}

INSTANTIATE_TEST_SUITE_P(Probe, DllPlanting,
                         ::testing::Values(Planting{"BesideProgramUnprepared", true, false, true},
                                           Planting{"BesideProgramPrepared", true, true, false},
                                           Planting{"InCurrentFolderUnprepared", false, false, true},
                                           Planting{"InCurrentFolderPrepared", false, true, false}),
                         [](const ::testing::TestParamInfo<Planting>& param) { return param.param.name; });

TEST(DllPlanting, SystemDllsStillLoadAfterPreparation) {
  ScratchFolder scratch;
  ChildEnd end = runChild(windowsPath(QMT_PROBE_EXE), L"load-dll", L"version.dll", scratch, scratch.path());
  EXPECT_EQ(end.exitCode, 0u) << end.out;
  EXPECT_NE(end.out.find("loaded "), std::string::npos) << end.out;
}

}  // namespace
