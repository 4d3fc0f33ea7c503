// The agent's message dialogs: error, information and confirmation, each with its fixed caption,
// icon and buttons, whatever the system's UI language. Part of the Windows implementation of the seam.
#pragma once

#include <windows.h>

#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor::win32impl {

// Shows the dialog of `kind` modally, owned by `owner` (may be null), optionally on top of all other
// windows. Error and Information: "OK"; Esc and the close box answer Ok. Confirmation: "&Yes" (the
// default) and "&No"; Esc and the close box answer No. Returns the answer, or Cancelled when the
// dialog was torn down without one: its owner destroyed, or the message loop told to quit.
DialogResult ShowMessageDialog(HWND owner, DialogKind kind, std::wstring_view text, bool topmost);

// Whether `window` is one of the dialogs that ShowMessageDialog has open on this thread.
bool IsOpenMessageDialog(HWND window);

}  // namespace velmor::win32impl
