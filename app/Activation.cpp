// Bringing the product's main window to the front, once a second until it shows.
#include "app/AgentWindow.h"
#include "peers/ProductPeers.h"

namespace velmor {

namespace {
// Time given to a hidden product window to show itself after the tray click.
constexpr std::uint32_t kShowWindowGraceMs = 500;
// Each attempt holds the agent for half a second: after about 30 seconds, as long as the takeover
// watchdog gives a first agent, a window that has not shown is not going to.
constexpr int kActivationAttemptLimit = 30;
}  // namespace

void AgentWindow::TryActivateProduct() {
  const WindowHandle window = FindProductWindow(os_);
  if (window != kNoWindow && !os_.IsWindowVisible(window)) {
    os_.PostMessageA(window, peers::kTrayMessage, peers::kTrayClickWParam, peers::kTrayClickLParam);
  }
  os_.Sleep(kShowWindowGraceMs);

  if (window != kNoWindow && os_.IsWindowVisible(window)) {
    HideAgentWindow();
    Stop(activationTimer_);
    os_.SwitchToThisWindow(window, true);
    EndActivation();
    return;
  }
  // While the watchdog runs, it decides when the waiting ends.
  if (++activationAttempts_ >= kActivationAttemptLimit && !watchdogTimer_.running) {
    Stop(activationTimer_);
    EndActivation();
    return;
  }
  Start(activationTimer_);  // try again on the next tick
}

void AgentWindow::EndActivation() {
  // A second agent, or one started while the product was up, has nothing more to do here; nor has
  // an elevated agent, which never stays resident. An agent that took over stays in the place of
  // the one it replaced.
  const bool tookOver = !state_.createInstanceMarker;
  if ((state_.productRunning && !tookOver) || elevated_) {
    Close();
  }
}

}  // namespace velmor
