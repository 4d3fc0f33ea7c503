#include "app/Unit4.h"

#include <utility>

#include "app/AgentIdentity.h"
#include "platform/Trace.h"

namespace velmor {

Timer::Timer(AgentPlatform& os, const WindowHandle& owner, TimerId id, std::uint32_t intervalMs)
    : os_(os), owner_(owner), id_(id), intervalMs_(intervalMs) {}

void Timer::Enable() {
  if (enabled_) {
    return;  // a running timer keeps its rhythm
  }
  enabled_ = true;
  if (owner_ != kNoWindow) {
    os_.SetTimer(owner_, id_, intervalMs_);
  }
}

void Timer::Disable() {
  if (!enabled_) {
    return;
  }
  enabled_ = false;
  if (owner_ != kNoWindow) {
    os_.KillTimer(owner_, id_);
  }
}

WindowHandle FindAppWindow(AgentPlatform& os, std::string_view caption) {
  return os.FindWindowA(kAgentWindowClass, caption);
}

TMainForm::TMainForm(AgentPlatform& os, AgentState& state)
    : os_(os),
      state_(state),
      handle_(os.CreateAgentWindow(kAgentWindowClass, kAgentInitialCaption, *this)),
      webPages_(BuildWebPages()),
      Timer_OpenShell(os, handle_, TimerId::OpenShell, 1000),
      Timer_Start(os, handle_, TimerId::Start, 1),
      Timer_KillProcessesOnTimeoutAndStartAgain(os, handle_, TimerId::KillProcessesOnTimeoutAndStartAgain, 30000) {
  if (handle_ == kNoWindow) {
    // Without its window the agent can neither be found nor told anything: end rather than linger.
    os_.TerminateApplication();
    return;
  }
  Timer_Start.Enable();
}

TMainForm::~TMainForm() {
  if (handle_ != kNoWindow) {
    os_.DestroyAgentWindow(std::exchange(handle_, kNoWindow));
  }
}

void TMainForm::HideAgentWindow() {
  if (handle_ != kNoWindow) {
    os_.HideWindow(handle_);
  }
}

void TMainForm::Close() {
  FormClose();
  Timer_OpenShell.Disable();
  Timer_Start.Disable();
  Timer_KillProcessesOnTimeoutAndStartAgain.Disable();
  // The loop ends once it has handled what was posted before; an open dialog's own loop ends at
  // once on the same request, so no dialog outlives the agent. The window goes when the loop ends.
  os_.TerminateApplication();
}

void TMainForm::EndBecause(std::string_view reason) {
  TraceLine(os_, "end").Add("reason", reason);
  Close();
}

void TMainForm::FormClose() {
  // Releasing the handle destroys the marker once no other agent holds it.
  state_.instanceMarker.reset();
}

void TMainForm::OnTimer(TimerId timer) {
  switch (timer) {
    case TimerId::Start:
      if (Timer_Start.Enabled()) {
        Timer_StartTimer();
      }
      break;
    case TimerId::OpenShell:
      if (Timer_OpenShell.Enabled()) {
        Timer_OpenShellTimer();
      }
      break;
    case TimerId::KillProcessesOnTimeoutAndStartAgain:
      if (Timer_KillProcessesOnTimeoutAndStartAgain.Enabled()) {
        Timer_KillProcessesOnTimeoutAndStartAgainTimer();
      }
      break;
  }
}

bool TMainForm::OnWindowMessage(std::uint32_t message, MessageWParam wParam, MessageLParam lParam,
                                MessageResult& result) {
  if (message != WM_AGENT_COMMAND) {
    return false;  // default handling
  }
  OnAgentCommand(wParam, lParam);
  result = 0;
  return true;
}

void TMainForm::OnCloseRequest() {
  EndBecause("close-request");
}

}  // namespace velmor
