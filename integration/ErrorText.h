// Dialog texts that end in a Win32 error code.
#pragma once

#include <string>
#include <string_view>

#include "platform/AgentPlatform.h"
#include "platform/Decimal.h"

namespace velmor {

// The text followed by the code in decimal.
inline std::wstring WithCode(std::wstring_view text, Win32Status code) {
  std::wstring result(text);
  AppendDecimal(result, code);
  return result;
}

}  // namespace velmor
