#include "tools/velmorctl/Console.h"

#include "platform/Decimal.h"

namespace velmor::ctl {

// Writes to a console as it is; to a file or pipe as UTF-8.
void Write(DWORD stream, std::wstring_view text) {
  const HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) {
    return;
  }
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(handle, &mode) != FALSE) {
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
  WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Say(std::wstring_view text) {
  Write(STD_OUTPUT_HANDLE, text);
}

std::wstring Decimal(std::uint32_t number) {
  std::wstring text;
  AppendDecimal(text, number);
  return text;
}

}  // namespace velmor::ctl
