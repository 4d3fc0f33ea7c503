// The end of the session, and the Restart Manager's request to end this program alone: an
// installer that must replace the agent's files in use asks so from any session, also as
// LocalSystem from session 0, where the agent's window and its command message cannot be reached.
#include "app/AgentWindow.h"

namespace velmor {

namespace {

// A logon start: the agent comes back as the autostart value brings it, resident without bringing the
// product forward, and ends at once when the value switches it off.
constexpr std::wstring_view kRestartArguments = L"1";

// Only after an update: a crash or a hang is not a reason to come back, and after a reboot the
// autostart value starts the agent anyway.
constexpr std::uint32_t kRestartFlags = win32::kRestartNoCrash | win32::kRestartNoHang | win32::kRestartNoReboot;

}  // namespace

void AgentWindow::RegisterForRestartIfResident() {
  if (StaysResident()) {
    os_.RegisterApplicationRestart(kRestartArguments, kRestartFlags);  // without it, the next logon starts it
  }
}

void AgentWindow::OnEndSession(bool ending, bool closeApplicationOnly) {
  if (!ending) {
    return;  // the end was called off: the agent stays as it was
  }
  // Windows may end the process as soon as this handler returns: Close releases the marker and the
  // residence lock now, not when the message loop ends. A handler that showed a dialog, still running
  // beneath this one, does nothing more once the dialog has closed: the product is left as it is.
  EndForGood(closeApplicationOnly ? TraceWord("restart-manager") : TraceWord("session-end"));
}

}  // namespace velmor
