// Dialog texts that end in a Win32 error code.
#pragma once

#include <array>
#include <charconv>
#include <string>
#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor {

// The text followed by the code in decimal. std::to_chars rather than std::to_wstring, which would
// link the printf family into the agent for this one number.
inline std::wstring WithCode(std::wstring_view text, Win32Status code) {
  std::array<char, 10> digits{};  // 4294967295 at most
  char* const first = digits.data();
  char* const last = std::to_chars(first, first + digits.size(), code).ptr;
  std::wstring result(text);
  result.append(first, last);  // ASCII digits widen one to one
  return result;
}

}  // namespace velmor
