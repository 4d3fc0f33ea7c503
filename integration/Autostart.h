// The product's autostart value in the machine-wide Run key: read at every start with an argument,
// rewritten at install time so that it points at the agent in the folder it runs from.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor {

inline constexpr std::string_view kRunKeyPath = R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Run)";
inline constexpr std::string_view kAutostartValueName = "Tessaly";

// The read buffer of the common case; a longer value is read again whole.
using AutostartBuffer = std::array<std::uint8_t, 1024>;

// Reads the value's text: its bytes up to the first NUL, or all of them when it was stored without
// one. Returns the open's or the query's status, leaving `text` alone on failure; a value that is
// not a string (REG_SZ or REG_EXPAND_SZ) gives ERROR_INVALID_DATA and so counts as unreadable.
Win32Status ReadAutostartValue(AgentPlatform& os, AnsiString& text);

// The argument tail of a value: from its last space (included) to its end, or empty without a space.
// A value that starts with a quoted path keeps only what follows the closing quote when its last
// space lies inside the quotes, so a quoted path with a space in a folder name gives no tail.
AnsiString GetAutostartTail(AgentPlatform& os, std::string_view text);

// True when the value's text ends in "0".
bool IsAutostartSwitchedOff(std::string_view text);

// Writes `"<agent folder>velmor.exe"<tail>` as REG_SZ with its NUL. Failures are ignored: without
// administrative rights the write fails quietly.
void WriteAutostartValue(AgentPlatform& os, std::string_view tail);

}  // namespace velmor
