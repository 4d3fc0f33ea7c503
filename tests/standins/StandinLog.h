// Appending one line to a stand-in's log file, so that a test can see what a stand-in received.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace velmor::standins {

// Appends `line` and a line feed in one write; several processes may append to the same file.
// An empty path means no log.
inline void AppendLogLine(const std::string& path, std::string_view line) {
  if (path.empty()) {
    return;
  }
  HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  std::string text(line);
  text += '\n';
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
}

}  // namespace velmor::standins
