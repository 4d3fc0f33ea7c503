// Owners for the handles that Windows-side code opens itself, with no seam between (the platform's
// own, velmorctl's, the Windows-side tests'): the same UniqueHandle as the logic's, closed by the
// Windows call that fits each kind, keeping the thread's last error across the close.
#pragma once

#include <windows.h>

#include "platform/ScopedHandles.h"

namespace velmor {

struct Win32LastErrorTraits {
  [[nodiscard]] static DWORD LastError() { return ::GetLastError(); }
  static void RestoreLastError(DWORD error) { ::SetLastError(error); }
};

// A process, thread, token, event or mapping handle (null when there is none; a call that reports
// failure as INVALID_HANDLE_VALUE is to be tested before its handle is handed over).
struct Win32KernelHandleTraits : Win32LastErrorTraits {
  using Type = HANDLE;
  static void Close(HANDLE handle) { ::CloseHandle(handle); }
};

struct Win32ServiceHandleTraits : Win32LastErrorTraits {
  using Type = SC_HANDLE;
  static void Close(SC_HANDLE handle) { ::CloseServiceHandle(handle); }
};

struct Win32RegistryKeyTraits : Win32LastErrorTraits {
  using Type = HKEY;
  static void Close(HKEY key) { ::RegCloseKey(key); }
};

using UniqueWin32Handle = UniqueHandle<Win32KernelHandleTraits>;
using UniqueWin32Service = UniqueHandle<Win32ServiceHandleTraits>;
using UniqueWin32Key = UniqueHandle<Win32RegistryKeyTraits>;

}  // namespace velmor
