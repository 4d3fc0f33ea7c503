#include "tests/e2e/LogFile.h"

#include <windows.h>

#include "platform/win32/Win32Handles.h"

namespace velmor::e2e {

std::vector<std::string> ReadLogLines(const std::string& path) {
  std::vector<std::string> lines;
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return lines;
  }
  UniqueWin32Handle owner(file);
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::size_t CountLogLines(const std::string& path, const std::string& prefix) {
  std::size_t count = 0;
  for (const std::string& line : ReadLogLines(path)) {
    if (line.rfind(prefix, 0) == 0) {
      ++count;
    }
  }
  return count;
}

}  // namespace velmor::e2e
