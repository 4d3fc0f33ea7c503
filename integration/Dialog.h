// The agent's message dialogs, shown only where somebody can answer them.
#pragma once

#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor {

// Shows a modal message dialog (AgentPlatform::ShowMessageDialog). In a window station that is not
// interactive (an installer service's elevated action on Windows) nobody could see or answer it, and
// the agent, with the install that waits for it, would hang: nothing is shown, the trace says so, and
// the answer is Cancelled, as for a dialog torn down unanswered (No on a confirmation).
DialogResult ShowAgentDialog(AgentPlatform& os, DialogKind kind, std::wstring_view text, bool topmost = false);

}  // namespace velmor
