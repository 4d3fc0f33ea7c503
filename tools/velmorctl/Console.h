// velmorctl's output: what it says to the console, a file or a pipe.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace velmor::ctl {

// Writes to a console as it is; to a file or pipe as UTF-8. `stream` is STD_OUTPUT_HANDLE or
// STD_ERROR_HANDLE.
void Write(DWORD stream, std::wstring_view text);
void Say(std::wstring_view text);
// The number in decimal, without the printf family.
std::wstring Decimal(std::uint32_t number);

}  // namespace velmor::ctl
