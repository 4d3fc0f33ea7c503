#include "app/AgentWindow.h"

#include <utility>

#include "peers/AgentContract.h"
#include "platform/Trace.h"

namespace velmor {

AgentWindow::AgentWindow(AgentPlatform& os, AgentState& state)
    : os_(os),
      state_(state),
      handle_(os.CreateAgentWindow(peers::kAgentWindowClass, peers::kAgentInitialCaption, *this)),
      webPages_(BuildWebPages()) {
  if (handle_ == kNoWindow) {
    // Without its window the agent can neither be found nor told anything: end rather than linger.
    TraceLine(os_, "end").Add("reason", "window-not-created").Add("error", os_.GetLastError());
    os_.TerminateApplication();
    return;
  }
  Start(startTimer_);
}

AgentWindow::~AgentWindow() {
  if (handle_ != kNoWindow) {
    os_.DestroyAgentWindow(std::exchange(handle_, kNoWindow));
  }
}

void AgentWindow::Start(Timer& timer) {
  if (timer.running || endedForGood_) {
    return;  // a running timer keeps its rhythm; after the end for good, nothing is started
  }
  if (handle_ == kNoWindow) {
    return;
  }
  if (!os_.SetTimer(handle_, timer.id, timer.intervalMs)) {
    // Out of timers (a per-process quota): the step this timer drives would never come. The agent
    // cannot do its part, and ends rather than linger unseen.
    TraceLine(os_, "timer").Add("id", static_cast<std::uint32_t>(timer.id)).Add("refused", os_.GetLastError());
    EndForGood("timer-refused");
    return;
  }
  timer.running = true;
}

void AgentWindow::Stop(Timer& timer) {
  if (!timer.running) {
    return;
  }
  timer.running = false;
  if (handle_ != kNoWindow) {
    os_.KillTimer(handle_, timer.id);
  }
}

void AgentWindow::StopAllTimers() {
  Stop(activationTimer_);
  Stop(startTimer_);
  Stop(watchdogTimer_);
}

void AgentWindow::HideAgentWindow() {
  if (handle_ != kNoWindow) {
    os_.HideWindow(handle_);
  }
}

void AgentWindow::Close() {
  // The lock goes first: a start that comes between the two finds the marker and is a second agent, as
  // beside any resident agent. The other way round, it would make the marker afresh, find the lock
  // still owned and take this quitting agent for a resident one.
  residence_.Release();
  ReleaseInstanceMarker();
  StopAllTimers();
  // The loop ends once it has handled what was posted before; an open dialog's own loop ends at
  // once on the same request, so no dialog outlives the agent. The window goes when the loop ends.
  os_.TerminateApplication();
}

void AgentWindow::EndBecause(TraceWord reason) {
  if (!endTraced_) {
    endTraced_ = true;
    TraceLine(os_, "end").Add("reason", reason);
  }
  Close();
}

void AgentWindow::EndForGood(const TraceWord& reason) {
  EndBecause(reason);
  endedForGood_ = true;
}

void AgentWindow::ReleaseInstanceMarker() {
  // Releasing the handle destroys the marker once no other agent holds it.
  state_.instanceMarker.reset();
}

void AgentWindow::OnTimer(TimerId timer) {
  if (endedForGood_) {
    return;
  }
  switch (timer) {
    case AgentTimer::Start:
      RunStartSequence();
      break;
    case AgentTimer::Activation:
      TryActivateProduct();
      break;
    case AgentTimer::Watchdog:
      TakeOverFromStuckAgent();
      break;
    default:
      break;  // not one of the agent's
  }
}

void AgentWindow::OnCloseRequest() {
  EndBecause("close-request");
}

// A WM_QUIT that the agent did not ask for (posted to its window or thread by another program; the
// agent's own end asks for one only after its close). The loop would end at once, without the close:
// the marker and the residence lock left to the process's end, and no end line. It ends the agent
// through its own close instead, as the quit command would, and for good: a dialog's loop that it
// ended leaves nothing for the handler beneath to go on with.
void AgentWindow::OnQuitMessage() {
  EndForGood("quit-message");
}

void AgentWindow::OnWindowGone() {
  // Nobody can find this agent or tell it anything any more: it ends, releasing the marker, so that
  // the next start is a first agent again.
  handle_ = kNoWindow;
  EndBecause("window-gone");
}

}  // namespace velmor
