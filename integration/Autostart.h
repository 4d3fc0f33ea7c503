// The product's autostart value in the machine-wide Run key: read at every start with an argument,
// rewritten at install time so that it points at the agent in the folder it runs from.
//
// The registry holds the value in UTF-16, and the agent reads and writes it so, with no trip through
// the ANSI code page: every character of the value and of the agent's folder survives the rewrite,
// and a value in ASCII is stored exactly as before.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor {

// No command line that Windows starts is longer than this, in UTF-16 code units: a value whose text
// (its NUL aside) is longer is no command line, and is not read.
inline constexpr auto kLongestAutostartText = static_cast<std::uint32_t>(win32::kLongestCommandLineUnits);

// Reads the value (peers/AgentContract.h) and its text: its UTF-16 code units up to the first NUL, or
// all of them when it was stored without one. Returns the open's or the query's status, leaving
// `text` alone on failure; a value that is not a string (REG_SZ or REG_EXPAND_SZ) gives
// ERROR_INVALID_DATA, and one longer than any command line gives ERROR_MORE_DATA: it cannot be read
// whole. `type` receives the value's type once the query has found it.
Win32Status ReadAutostartValue(AgentPlatform& os, std::wstring& text, std::uint32_t& type);
inline Win32Status ReadAutostartValue(AgentPlatform& os, std::wstring& text) {
  std::uint32_t type = 0;
  return ReadAutostartValue(os, text, type);
}

// The argument tail of a value: from its last space (included) to its end, or empty without a space.
// There is no further parsing: a quoted path whose only space lies in a folder name gives the rest
// of that path and its closing quote, which later logon starts receive as their argument.
std::wstring GetAutostartTail(std::wstring_view text);

// True when the value's text ends in "0".
bool IsAutostartSwitchedOff(std::wstring_view text);

// Writes `"<agent folder>velmor.exe"<tail>` as REG_SZ with its NUL. Failures are ignored: without
// administrative rights the write fails quietly.
void WriteAutostartValue(AgentPlatform& os, std::wstring_view tail);

}  // namespace velmor
