// The executable's own folder, read in UTF-16 as Windows holds the path.
#pragma once

#include <string>

#include "platform/AgentPlatform.h"

namespace velmor {

// The executable's folder: its full path up to and including the last backslash; empty when the
// path holds none. In UTF-16 a backslash is never part of another character, and a folder that the
// ANSI code page cannot spell keeps its name.
std::wstring ExecutableFolder(AgentPlatform& os);

}  // namespace velmor
