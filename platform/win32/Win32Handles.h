// Owners for the handles that Windows-side code opens itself, with no seam between (the platform's
// own, velmorctl's, the Windows-side tests'): the same UniqueHandle as the logic's, closed by the
// Windows call that fits each kind, keeping the thread's last error across the close. Kernel objects,
// services, keys, mapped views, hooks, device contexts, fonts and icons alike.
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

// A view of a file mapping, by its start address.
struct Win32MappedViewTraits : Win32LastErrorTraits {
  using Type = void*;
  static void Close(void* view) { ::UnmapViewOfFile(view); }
};

// A hook of this thread (SetWindowsHookEx).
struct Win32HookTraits : Win32LastErrorTraits {
  using Type = HHOOK;
  static void Close(HHOOK hook) { ::UnhookWindowsHookEx(hook); }
};

// A window's device context (GetDC), given back to the window it came from.
struct Win32WindowDcTraits : Win32LastErrorTraits {
  using Type = HDC;
  HWND window = nullptr;
  void Close(HDC dc) const { ::ReleaseDC(window, dc); }
};

// A font the program created (CreateFontIndirect).
struct Win32FontTraits : Win32LastErrorTraits {
  using Type = HFONT;
  static void Close(HFONT font) { ::DeleteObject(font); }
};

// An icon the program loaded at a size of its own (LoadImage without LR_SHARED).
struct Win32IconTraits : Win32LastErrorTraits {
  using Type = HICON;
  static void Close(HICON icon) { ::DestroyIcon(icon); }
};

using UniqueWin32Handle = UniqueHandle<Win32KernelHandleTraits>;
using UniqueWin32Service = UniqueHandle<Win32ServiceHandleTraits>;
using UniqueWin32Key = UniqueHandle<Win32RegistryKeyTraits>;
using UniqueWin32View = UniqueHandle<Win32MappedViewTraits>;
using UniqueWin32Hook = UniqueHandle<Win32HookTraits>;
using UniqueWin32WindowDc = UniqueHandle<Win32WindowDcTraits>;
using UniqueWin32Font = UniqueHandle<Win32FontTraits>;
using UniqueWin32Icon = UniqueHandle<Win32IconTraits>;

// The device context of `window` (null: the screen's), owned.
inline UniqueWin32WindowDc GetWindowDc(HWND window) {
  return UniqueWin32WindowDc(Win32WindowDcTraits{{}, window}, ::GetDC(window));
}

}  // namespace velmor
