// The system's debug output channel, shared by its writer (the agent's trace) and its listener
// (velmorctl trace): a listener makes the two events and the buffer; a writer takes the writers' mutex,
// waits for the buffer to be ready, puts its process id and its text (NUL-terminated) into the buffer
// and sets the data event; the listener copies the line out and makes the buffer ready again.
#pragma once

#include <windows.h>

#include <cstddef>

#include "platform/win32/Win32Handles.h"

namespace velmor::win32impl::debug_channel {

inline constexpr const wchar_t* kBufferName = L"DBWIN_BUFFER";
inline constexpr const wchar_t* kBufferReadyName = L"DBWIN_BUFFER_READY";
inline constexpr const wchar_t* kDataReadyName = L"DBWIN_DATA_READY";
inline constexpr const wchar_t* kWritersMutexName = L"DBWinMutex";

// The buffer: the writer's process id, then the text with its terminating NUL.
inline constexpr std::size_t kBufferSize = 4096;
inline constexpr std::size_t kMaxText = kBufferSize - sizeof(DWORD) - 1;

// The buffer of the channel's mapping, mapped with `access` (FILE_MAP_READ or FILE_MAP_WRITE); null
// when it cannot be (a mapping too small to be a listener's buffer).
inline UniqueWin32View MapBuffer(HANDLE mapping, DWORD access) {
  return UniqueWin32View(::MapViewOfFile(mapping, access, 0, 0, kBufferSize));
}

}  // namespace velmor::win32impl::debug_channel
