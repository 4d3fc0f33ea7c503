// Which window messages become the agent window's events. The Windows window procedure and the
// simulated desktop both deliver through this one map, so that the two cannot disagree.
#pragma once

#include <cstdint>

#include "peers/AgentContract.h"
#include "platform/AgentPlatform.h"

namespace velmor {

// Hands the message to its event when it is one that the agent serves (the command message, a close
// request, the end of the session, a quit it did not ask for); false for any other, which gets the default handling.
// Timer ticks come on their own road: only the window's owner knows which of its timers run and are due. Inline, so
// that the Windows implementation and the logic share it without a library between them.
inline bool DeliverAgentMessage(AgentWindowEvents& events, std::uint32_t message, MessageWParam wParam,
                                MessageLParam lParam) {
  switch (message) {
    case peers::kAgentCommandMessage:
      events.OnAgentCommand(wParam, lParam);
      return true;
    case win32::kWmClose:
      events.OnCloseRequest();
      return true;
    case win32::kWmEndSession:
      events.OnEndSession(wParam != 0, (static_cast<std::uintptr_t>(lParam) & win32::kEndSessionCloseApp) != 0);
      return true;
    case win32::kWmQuit:
      events.OnQuitMessage();
      return true;
    default:
      return false;
  }
}

}  // namespace velmor
