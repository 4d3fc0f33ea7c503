// velmorctl trace: the agents' trace lines, read from the system's debug output channel.
#pragma once

#include <windows.h>

namespace velmor::ctl {

// Listens on the debug output channel and prints each line that an agent process wrote, with the time
// it arrived, for `seconds` (0: until interrupted). False, having said so, when another listener (a
// debugger or a debug-output viewer) already holds the channel.
bool PrintAgentTrace(DWORD seconds);

}  // namespace velmor::ctl
