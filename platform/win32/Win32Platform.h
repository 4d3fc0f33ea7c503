// The Windows implementation of AgentPlatform. This header keeps <windows.h> out of its users.
#pragma once

#include <memory>

#include "platform/AgentPlatform.h"

namespace velmor {

// The platform for this process: the real user32, kernel32, advapi32 and shell32 behind the seam.
// Made first thing in the process: from then on DLLs are loaded from the system folder only.
std::unique_ptr<AgentPlatform> CreateWin32Platform();

}  // namespace velmor
