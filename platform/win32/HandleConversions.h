// The one place where the seam's portable handles meet the Windows ones.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/AgentPlatform.h"

namespace velmor::win32impl {

inline HWND ToHwnd(WindowHandle window) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}
inline WindowHandle FromHwnd(HWND window) {
  return WindowHandle{reinterpret_cast<std::uintptr_t>(window)};
}

inline HANDLE ToHandle(KernelHandle handle) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
}
inline KernelHandle FromHandle(HANDLE handle) {
  return KernelHandle{reinterpret_cast<std::uintptr_t>(handle)};
}

inline SC_HANDLE ToScHandle(ServiceHandle handle) {
  return reinterpret_cast<SC_HANDLE>(static_cast<std::uintptr_t>(handle));
}
inline ServiceHandle FromScHandle(SC_HANDLE handle) {
  return ServiceHandle{reinterpret_cast<std::uintptr_t>(handle)};
}

inline HKEY ToHkey(RegistryKey key) {
  if (key == kHkeyLocalMachine) {
    return HKEY_LOCAL_MACHINE;
  }
  return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(key));
}
inline RegistryKey FromHkey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) {
    return kHkeyLocalMachine;
  }
  return RegistryKey{reinterpret_cast<std::uintptr_t>(key)};
}

}  // namespace velmor::win32impl
