// Searching byte strings of the ANSI code page without cutting a double-byte character in two.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor {

// The index of the last `wanted` byte in `text` that is a character of its own, not the trail byte of
// a double-byte character (in code page 932 a trail byte can be 0x5C, the backslash).
std::optional<std::size_t> FindLastAnsiChar(AgentPlatform& os, std::string_view text, char wanted);

// The executable's folder: its full path up to and including the last backslash; empty when the
// path holds none.
AnsiString ExecutableFolder(AgentPlatform& os);

}  // namespace velmor
