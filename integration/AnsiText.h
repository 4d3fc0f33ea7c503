// Paths as the system hands them over: byte strings of the ANSI code page searched without cutting a
// double-byte character in two, and the executable's own path, which is read in UTF-16.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor {

// The index of the last `wanted` byte in `text` that is a character of its own, not the trail byte of
// a double-byte character (in code page 932 a trail byte can be 0x5C, the backslash).
std::optional<std::size_t> FindLastAnsiChar(AgentPlatform& os, std::string_view text, char wanted);

// The executable's folder: its full path up to and including the last backslash; empty when the
// path holds none. In UTF-16 a backslash is never part of another character, and a folder that the
// ANSI code page cannot spell keeps its name.
std::wstring ExecutableFolder(AgentPlatform& os);

}  // namespace velmor
