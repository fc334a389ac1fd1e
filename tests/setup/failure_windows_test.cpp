// Failure texts and their display. The system's texts differ: Wine's are short English texts and its ntdll has
// no message table, so the NT branch shows the lookup-failed form there; Windows gives its documented texts (in
// its display language) and finds NT texts in ntdll. The composition itself is covered by the portable tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "setup/failure.h"
#include "setup/report_failure.h"
#include "under_wine.h"

namespace qmt {
namespace {

TEST(FormatSystemErrorTest, SystemCodes) {
  const bool wine = test::underWine();
  if (!wine && PRIMARYLANGID(GetUserDefaultUILanguage()) != LANG_ENGLISH) {
    GTEST_SKIP() << "the expected Windows texts are those of an English display language";
  }
  const struct {
    std::int32_t code;
    std::string wine, windows;
  } cases[] = {
      {2, "File not found. (os error 2)", "The system cannot find the file specified. (os error 2)"},
      {5, "Access denied. (os error 5)", "Access is denied. (os error 5)"},
      {183, "File already exists. (os error 183)",
       "Cannot create a file when that file already exists. (os error 183)"},
      // No message for the code: the lookup's own error (ERROR_MR_MID_NOT_FOUND) is named.
      {74565, "OS Error 74565 (FormatMessageW() returned error 317) (os error 74565)",
       "OS Error 74565 (FormatMessageW() returned error 317) (os error 74565)"},
      // An NT code is looked up in NTDLL.DLL without its facility bit (the number shown is the one looked up);
      // Windows has the text of STATUS_OBJECT_NAME_NOT_FOUND there, Wine none. The os error part keeps the code
      // as received.
      {static_cast<std::int32_t>(0xD0000034u),
       "OS Error -1073741772 (FormatMessageW() returned error 317) (os error -805306316)",
       "Object Name not found. (os error -805306316)"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatSystemError(c.code), wine ? c.wine : c.windows) << c.code;
}

// What FormatMessageW is asked, recorded through the seam: language 0, so that the system answers in the user's
// language (Wine's tables are English only, so only the request can show it), and the text it gives back, here a
// German one, is the description.
struct FormatCall {
  DWORD flags;
  LPCVOID source;
  DWORD messageId, languageId, size;
  bool noArguments;
  friend bool operator==(const FormatCall&, const FormatCall&) = default;
};
std::vector<FormatCall> formatCalls;
void PrintTo(const FormatCall& call, std::ostream* out) {
  *out << std::hex << "flags 0x" << call.flags << ", source " << call.source << ", message 0x" << call.messageId
       << ", language 0x" << call.languageId << ", size " << std::dec << call.size
       << (call.noArguments ? "" : ", with arguments");
}

DWORD WINAPI germanMessage(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                           va_list* arguments) {
  formatCalls.push_back({flags, source, messageId, languageId, size, arguments == nullptr});
  static constexpr wchar_t kText[] = L"Zugriff verweigert\r\n";
  std::copy(std::begin(kText), std::end(kText), buffer);
  return static_cast<DWORD>(std::size(kText) - 1);
}

TEST(FormatSystemErrorTest, AsksForTheUsersLanguageThroughSeam) {
  const HMODULE ntdll = GetModuleHandleW(L"NTDLL.DLL");
  ASSERT_NE(ntdll, nullptr);
  const struct {
    std::int32_t code;
    FormatCall call;
    std::string text;
  } cases[] = {
      {5, {0x1200, nullptr, 5, 0, 2048, true}, "Zugriff verweigert (os error 5)"},
      {static_cast<std::int32_t>(0xD0000022u), {0x1A00, ntdll, 0xC0000022u, 0, 2048, true},
       "Zugriff verweigert (os error -805306334)"},
  };
  for (const auto& c : cases) {
    formatCalls.clear();
    EXPECT_EQ(formatSystemErrorWith(c.code, germanMessage), c.text);
    EXPECT_EQ(formatCalls, std::vector<FormatCall>{c.call}) << c.code;
  }
}

TEST(PrefixedFailureTest, PrefixIsFollowedDirectlyByTheDescription) {
  EXPECT_EQ(prefixedFailure(message::kFolderNotCreated, Error::system(5)).text,
            "Der Programmordner konnte nicht angelegt werden: " + formatSystemError(5));
  EXPECT_EQ(prefixedFailure(message::kNotUnpacked, Error::of(ErrorKind::WriteZero)).text,
            "Quillmart konnte nicht entpackt werden: failed to write whole buffer");
  EXPECT_EQ(prefixedFailure(message::kNotSwapped, Error::of(ErrorKind::OutOfMemory)).text,
            "Die alte Version ließ sich nicht austauschen: out of memory");
  EXPECT_EQ(prefixedFailure(message::kNotStarted, Error::of(ErrorKind::NulInPath)).text,
            "Quillmart konnte nicht gestartet werden: strings passed to WinAPI cannot contain NULs");
}

TEST(MessageTextsTest, PrefixesEndInColonBlankAndHaveTheirByteCounts) {
  const struct {
    std::string_view text;
    std::size_t bytes;
    bool prefix;
  } texts[] = {
      {message::kNoLocalAppData, 45, false}, {message::kFolderNotCreated, 49, true},
      {message::kDamaged, 63, false},        {message::kNotUnpacked, 40, true},
      {message::kNotSwapped, 47, true},      {message::kNotPlaced, 40, true},
      {message::kNotStarted, 41, true},
  };
  for (const auto& t : texts) {
    EXPECT_EQ(t.text.size(), t.bytes) << t.text;
    EXPECT_EQ(t.text.ends_with(": "), t.prefix) << t.text;
  }
}

// The message box call, captured through the seam: the process under test must not block on a real box.
struct ShownBox {
  HWND owner;
  std::wstring text;
  std::wstring title;
  UINT type;
};
std::vector<ShownBox> shown;

int WINAPI captureBox(HWND owner, LPCWSTR text, LPCWSTR title, UINT type) {
  shown.push_back({owner, text, title, type});
  return IDOK;
}

TEST(ReportFailureTest, ShowsOneErrorBoxWithTheTextConvertedExactlyThroughSeam) {
  shown.clear();
  reportFailureWith(SetupFailure{"Die alte Version ließ sich nicht austauschen: \xF0\x9F\x98\x80"}, captureBox);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].owner, nullptr);
  EXPECT_EQ(shown[0].text, L"Die alte Version lie\u00DF sich nicht austauschen: \xD83D\xDE00");
  EXPECT_EQ(shown[0].title, L"Quillmart");
  EXPECT_EQ(shown[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
}

TEST(ReportFailureTest, NoMessageBoxFunctionShowsNothingThroughSeam) {
  shown.clear();
  reportFailureWith(SetupFailure{"x"}, nullptr);
  EXPECT_TRUE(shown.empty());
}

}  // namespace
}  // namespace qmt
