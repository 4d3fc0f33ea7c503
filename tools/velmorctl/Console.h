// velmorctl's output: what it says to the console, a file or a pipe.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace velmor::ctl {

// Writes to a console as it is; to a file or pipe as UTF-8. `stream` is STD_OUTPUT_HANDLE or
// STD_ERROR_HANDLE. False when the text could not go: whoever read a pipe has closed it.
bool Write(DWORD stream, std::wstring_view text);
bool Say(std::wstring_view text);
// Whether the standard output is a pipe whose reader has gone (`velmorctl trace | more`, once more
// has ended): nothing written there is read any more.
bool OutputClosed();
// The number in decimal, without the printf family.
std::wstring Decimal(std::uint32_t number);

}  // namespace velmor::ctl
