// Which window messages become the agent window's events. The Windows window procedure and the
// simulated desktop both deliver through this one map, so that the two cannot disagree.
#pragma once

#include <cstdint>

#include "platform/AgentPlatform.h"

namespace velmor {

// Hands the message to its event when it is one that the agent serves (the command message, a close
// request, the end of the session); false for any other, which gets the default handling. Timer ticks
// come on their own road: only the window's owner knows which of its timers run and are due.
bool DeliverAgentMessage(AgentWindowEvents& events, std::uint32_t message, MessageWParam wParam, MessageLParam lParam);

}  // namespace velmor
