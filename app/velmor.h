// The agent's process entry, apart from the platform it runs on.
#pragma once

#include "platform/AgentPlatform.h"

namespace velmor {

// Creates the agent window as the application's main window, hidden, and runs the message loop
// until the agent ends. Returns the process's exit code, which is always 0.
int RunAgent(AgentPlatform& os);

}  // namespace velmor
