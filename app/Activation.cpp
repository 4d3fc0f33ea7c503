// Bringing the product's main window to the front, once a second until it shows.
#include "app/AgentWindow.h"
#include "peers/ProductPeers.h"
#include "platform/Trace.h"

namespace velmor {

namespace {
// Time given to a hidden product window to show itself after the tray click.
constexpr std::uint32_t kShowWindowGraceMs = 500;
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
  const bool giveUp = ++activationAttempts_ >= activationAttemptLimit_ && !StaysResident() && !watchdogTimer_.running;
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

void AgentWindow::EndActivation(bool shown) {
  // A second agent, or one started while the product was up, has nothing more to do; nor has an
  // elevated agent. A first agent that brought the product up, or a successor, stays.
  if (elevated_) {
    EndBecause("elevated");
  } else if (!StaysResident()) {
    EndBecause(shown ? "activation-done" : "activation-gave-up");
  } else {
    TraceLine(os_, "resident").Add("after", shown ? "activation" : "activation-gave-up");
  }
}

}  // namespace velmor
