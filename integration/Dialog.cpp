#include "integration/Dialog.h"

#include "platform/Trace.h"

namespace velmor {

DialogResult ShowAgentDialog(AgentPlatform& os, DialogKind kind, std::wstring_view text, bool topmost) {
  if (!os.IsWindowStationInteractive()) {
    TraceLine(os, "dialog").Add("shown", false).Add("window-station", "non-interactive");
    return DialogResult::Cancelled;
  }
  const DialogResult result = os.ShowMessageDialog(kind, text, topmost);
  if (result == DialogResult::NotShown) {
    // Nobody saw it: an answer it would have asked for counts as No, and the trace says why.
    TraceLine(os, "dialog").Add("shown", false).Add("error", os.GetLastError());
  }
  return result;
}

}  // namespace velmor
