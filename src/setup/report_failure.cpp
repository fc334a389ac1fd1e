#include "setup/report_failure.h"

#include "runtime/text.h"
#include "runtime/wide.h"

namespace qmt {
namespace {

// The title is the same text as the last folder level of the default target folder.
constexpr std::string_view kTitle = "Quillmart";

MessageBoxFunction loadMessageBox() {
  HMODULE user32 = LoadLibraryExW(L"user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (user32 == nullptr) return nullptr;
  // The library stays loaded: the process ends soon after the box is closed.
  return reinterpret_cast<MessageBoxFunction>(reinterpret_cast<void*>(GetProcAddress(user32, "MessageBoxW")));
}

}  // namespace

void reportFailureWith(const SetupFailure& failure, MessageBoxFunction show) {
  if (show == nullptr) return;
  std::u16string text = utf8ToUtf16(failure.text);
  std::u16string title = utf8ToUtf16(kTitle);
  // The result is not examined: whether the box was closed by OK or by its close button, the run ends.
  show(nullptr, wide(text), wide(title), MB_OK | MB_ICONERROR);
}

void reportFailure(const SetupFailure& failure) { reportFailureWith(failure, loadMessageBox()); }

}  // namespace qmt
