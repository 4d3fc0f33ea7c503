#include "tools/velmorctl/Console.h"

#include "platform/Decimal.h"

namespace velmor::ctl {

bool Write(DWORD stream, std::wstring_view text) {
  const HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) {
    return true;  // nowhere to write, or nothing: nothing is lost
  }
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(handle, &mode) != FALSE) {
    return WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
  }
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
  return WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE;
}

bool Say(std::wstring_view text) {
  return Write(STD_OUTPUT_HANDLE, text);
}

bool OutputClosed() {
  const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_PIPE) {
    return false;
  }
  // A write of nothing reaches nobody, and fails once the reading end is closed.
  DWORD written = 0;
  if (WriteFile(handle, "", 0, &written, nullptr) != FALSE) {
    return false;
  }
  const DWORD error = GetLastError();
  return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE;
}

std::wstring Decimal(std::uint32_t number) {
  std::wstring text;
  AppendDecimal(text, number);
  return text;
}

}  // namespace velmor::ctl
