// Bringing the product's main window to the front, once a second until it shows.
#include "app/AgentWindow.h"
#include "peers/ProductPeers.h"
#include "platform/Trace.h"

namespace velmor {

namespace {
// Time given to a hidden product window to show itself after the tray click.
constexpr std::uint32_t kShowWindowGraceMs = 500;
// Each attempt holds the agent for half a second: after about 30 seconds, as long as the takeover
// watchdog gives a first agent, an agent that would end anyway stops waiting for a window.
constexpr int kActivationAttemptLimit = 30;
}  // namespace

void AgentWindow::TryActivateProduct() {
  const WindowHandle window = FindProductWindow(os_);
  const bool clicked = window != kNoWindow && !os_.IsWindowVisible(window);
  if (clicked) {
    os_.PostMessageA(window, peers::kTrayMessage, peers::kTrayClickWParam, peers::kTrayClickLParam);
  }
  os_.Sleep(kShowWindowGraceMs);

  const auto attempt = static_cast<std::uint32_t>(activationAttempts_ + 1);
  if (window != kNoWindow && os_.IsWindowVisible(window)) {
    TraceLine(os_, "activation").Add("attempt", attempt).Add("tray-click", clicked).Add("result", "shown");
    HideAgentWindow();
    Stop(activationTimer_);
    os_.SwitchToThisWindow(window, true);
    EndActivation(true);
    return;
  }
  // Only an agent that ends once this ends gives up: left to itself it would pile up with the next
  // start's. An agent that stays resident keeps trying until the window shows; while the watchdog
  // runs, it decides when the waiting ends.
  const bool giveUp =
      ++activationAttempts_ >= kActivationAttemptLimit && EndsAfterActivation() && !watchdogTimer_.running;
  TraceLine(os_, "activation")
      .Add("attempt", attempt)
      .Add("window", window == kNoWindow ? "absent" : "hidden")
      .Add("tray-click", clicked)
      .Add("result", giveUp ? "gave-up" : "waiting");
  if (giveUp) {
    Stop(activationTimer_);
    EndActivation(false);
    return;
  }
  Start(activationTimer_);  // try again on the next tick
}

bool AgentWindow::EndsAfterActivation() const {
  // A second agent, or one started while the product was up, has nothing more to do then; nor has an
  // elevated agent, which never stays resident. An agent that took over stays in the place of the one
  // it replaced.
  const bool tookOver = !state_.createInstanceMarker;
  return elevated_ || (state_.productRunning && !tookOver);
}

void AgentWindow::EndActivation(bool shown) {
  if (elevated_) {
    EndBecause("elevated");
  } else if (EndsAfterActivation()) {
    EndBecause(shown ? "activation-done" : "activation-gave-up");
  } else {
    TraceLine(os_, "resident").Add("after", shown ? "activation" : "activation-gave-up");
  }
}

}  // namespace velmor
