#include "platform/AgentMessages.h"

#include "peers/AgentContract.h"

namespace velmor {

bool DeliverAgentMessage(AgentWindowEvents& events, std::uint32_t message, MessageWParam wParam, MessageLParam lParam) {
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
    default:
      return false;
  }
}

}  // namespace velmor
