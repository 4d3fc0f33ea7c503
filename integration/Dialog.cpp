#include "integration/Dialog.h"

#include "platform/Trace.h"

namespace velmor {

DialogResult ShowAgentDialog(AgentPlatform& os, DialogKind kind, std::wstring_view text, bool topmost) {
  if (!os.IsWindowStationInteractive()) {
    TraceLine(os, "dialog").Add("shown", false).Add("window-station", "non-interactive");
    return DialogResult::Cancelled;
  }
  return os.ShowMessageDialog(kind, text, topmost);
}

}  // namespace velmor
