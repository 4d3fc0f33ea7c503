// velmorctl trace: the agents' trace lines, read from the system's debug output channel.
#pragma once

#include <windows.h>

#include "platform/AgentPlatform.h"

namespace velmor::ctl {

// Listens on the debug output channel and prints each line that an agent process wrote, with the time
// it arrived, for `seconds` (0: until interrupted), or until nobody reads the output any more. False,
// having said so, when another listener (a debugger or a debug-output viewer) already holds the
// channel.
bool PrintAgentTrace(AgentPlatform& os, DWORD seconds);

}  // namespace velmor::ctl
