// Bringing the product's main window to the front, once a second until it shows.
#include "app/AgentWindow.h"
#include "app/ProductWindow.h"
#include "peers/AgentTimes.h"
#include "peers/ProductPeers.h"
#include "platform/Trace.h"

namespace velmor {

namespace {
// A first agent names itself within its first handler: a second agent that found none named at its
// start looks again in its first attempts. Successors of the same storm name themselves only when
// their watchdogs fire, long after.
constexpr int kAttemptsThatLookForTheFirstAgent = 5;
}  // namespace

// The wait for the product's window: a resident agent waits until it shows, a second agent whose
// watchdog runs until the watchdog fires, any other agent as many attempts as the watchdog gives, and one after a
// declined restart or where nobody sees the desktop. Left to itself, an agent that ends anyway would pile up with the
// next start's.
void AgentWindow::SetActivationBudget(ActivationBudget budget) {
  activationBudget_ = budget;
  activationAttempts_ = 0;
}

void AgentWindow::TryActivateProduct() {
  if (endedForGood_) {
    return;  // after the end for good, the product is left as it is
  }
  const WindowHandle window = FindProductWindow(os_);
  const bool clicked = window != kNoWindow && !os_.IsWindowVisible(window);
  if (clicked) {
    // The product takes the foreground when it shows itself on the click. Windows lets a process do so
    // only when the foreground's owner allows it: the agent, which the user started, passes its right.
    if (const std::uint32_t productProcess = os_.GetWindowThreadProcessId(window); productProcess != 0) {
      os_.AllowSetForegroundWindow(productProcess);
    }
    os_.PostMessageA(window, peers::kTrayMessage, peers::kTrayClickWParam, peers::kTrayClickLParam);
  }
  os_.Sleep(times::kShowWindowGraceMs);

  if (watchdogTimer_.running && agentsSeenWhileWaiting_.empty() &&
      activationAttempts_ < kAttemptsThatLookForTheFirstAgent) {
    agentsSeenWhileWaiting_ = FindAgentWindows(os_).agents;
  }

  const auto attempt = static_cast<std::uint32_t>(activationAttempts_ + 1);
  const bool visible = window != kNoWindow && os_.IsWindowVisible(window);
  const bool hung = visible && !ProductAnswers(os_, window);
  if (visible && !hung) {
    HideAgentWindow();
    Stop(activationTimer_);
    // The window is shown: a switch that does not finish in time is not tried again, as it may still
    // finish once the product answers.
    const bool switched = os_.SwitchToThisWindow(window, true, times::kSwitchTimeoutMs);
    TraceLine(os_, "activation")
        .Add("attempt", attempt)
        .Add("tray-click", clicked)
        .Add("result", switched ? TraceWord("shown") : TraceWord("switch-unfinished"));
    EndActivation(true);
    return;
  }
  const int limit = activationBudget_ == ActivationBudget::OneAttempt ? 1 : times::kStandardAttemptLimit;
  const bool giveUp = ++activationAttempts_ >= limit && !StaysResident() && !watchdogTimer_.running;
  TraceLine(os_, "activation")
      .Add("attempt", attempt)
      .Add("window", window == kNoWindow ? TraceWord("absent")
                     : hung              ? TraceWord("not-answering")
                                         : TraceWord("hidden"))
      .Add("tray-click", clicked)
      .Add("result", giveUp ? TraceWord("gave-up") : TraceWord("waiting"));
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
  if (Unreachable()) {
    EndBecause(UnreachableReason());
  } else if (!StaysResident()) {
    EndBecause(shown ? TraceWord("activation-done") : TraceWord("activation-gave-up"));
  } else {
    TraceLine(os_, "resident").Add("after", shown ? TraceWord("activation") : TraceWord("activation-gave-up"));
  }
}

}  // namespace velmor
