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

using AutostartBuffer = std::array<std::uint8_t, 1024>;

// Reads the value into `buffer`. `size` holds the buffer size on entry and the data size (terminating
// NUL included) after a successful read. Returns the open's status when the key cannot be opened
// (leaving the buffer alone), otherwise the query's; a value longer than the buffer gives
// ERROR_MORE_DATA and so counts as unreadable.
Win32Status ReadAutostartValue(AgentPlatform& os, AutostartBuffer& buffer, std::uint32_t& size);

// The text of a value as read: the first `size` bytes of the buffer, up to the first NUL among them.
// A size beyond the buffer is cut to it, so nothing past the buffer is ever read.
std::string_view AutostartText(const AutostartBuffer& buffer, std::uint32_t size);

// The argument tail of a value: from its last space (included) to its end, or empty without a space.
// A value that starts with a quoted path keeps only what follows the closing quote when its last
// space lies inside the quotes, so a quoted path with a space in a folder name gives no tail.
AnsiString GetAutostartTail(AgentPlatform& os, std::string_view text);

// True when the value's text ends in "0": the byte at size - 1 is NUL and the one before it is '0'.
bool IsAutostartSwitchedOff(const AutostartBuffer& buffer, std::uint32_t size);

// Writes `"<agent folder>velmor.exe"<tail>` as REG_SZ with its NUL. Failures are ignored: without
// administrative rights the write fails quietly.
void WriteAutostartValue(AgentPlatform& os, std::string_view tail);

}  // namespace velmor
