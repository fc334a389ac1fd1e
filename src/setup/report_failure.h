#pragma once

#include <windows.h>

#include "setup/failure.h"

namespace qmt {

// Shows the failure's text in one modal message box with no owner window, titled "Quillmart", with the error icon
// and a single OK button, and returns when the user has closed it. When the box cannot be shown, returns silently.
// user32 is loaded from the system folder only here, so a successful run never loads it.
void reportFailure(const SetupFailure& failure);

// The box itself, given the MessageBoxW to call (a seam for tests); `show` may be null, and then nothing is shown.
using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
void reportFailureWith(const SetupFailure& failure, MessageBoxFunction show);

}  // namespace qmt
