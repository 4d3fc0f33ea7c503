// The confirmation dialog: caption "Confirm", a question icon, the text, "&Yes" (the default
// button) and "&No". Esc answers No. Part of the Windows implementation of the seam.
#pragma once

#include <windows.h>

#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor::win32impl {

// Shows the dialog modally, owned by `owner` (may be null), optionally on top of all other windows.
// Returns Yes or No for an answer (Esc and the close box count as No), Cancelled when the dialog was
// torn down without an answer: its owner destroyed, or the message loop told to quit.
DialogResult ShowConfirmationDialog(HWND owner, std::wstring_view text, bool topmost);

}  // namespace velmor::win32impl
