// Bringing the product's main window to the front, once a second until it shows.
#include "app/Unit4.h"
#include "peers/ProductPeers.h"

namespace velmor {

namespace {
// Time given to a hidden product window to show itself after the tray click.
constexpr std::uint32_t kShowWindowGraceMs = 500;
}  // namespace

void TMainForm::Timer_OpenShellTimer() {
  const WindowHandle window = FindAppWindow(os_, peers::kProductWindowCaption);
  if (window != kNoWindow && !os_.IsWindowVisible(window)) {
    os_.PostMessageA(window, peers::AGENT_TRAY_MESSAGE, peers::kTrayClickWParam, peers::kTrayClickLParam);
  }
  os_.Sleep(kShowWindowGraceMs);

  if (window != kNoWindow && os_.IsWindowVisible(window)) {
    HideAgentWindow();
    Timer_OpenShell.Disable();
    os_.SwitchToThisWindow(window, true);
    if (state_.productRunning) {
      Close();  // the product was up already: nothing more to do here
    }
    return;
  }
  Timer_OpenShell.Enable();  // try again on the next tick
}

}  // namespace velmor
