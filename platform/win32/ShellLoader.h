// The system libraries that the agent loads at run time: where they may come from, and the shell,
// loaded only when the first page is opened.
#pragma once

#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include <cstdint>

namespace velmor::win32impl {

// DLLs that the process loads from now on come from the system folder only, never from the agent's
// folder or the current one (the start sequence makes them the same).
void RestrictDllSearchToSystemFolder();

// shell32 and COM cost every agent memory and start time, yet most agents never open a page: they
// are loaded the first time one is, from the system folder only, and stay for the process's life.
// COM is initialised then on this thread, as ShellExecute asks of its callers: the shell may hand a
// URL to a handler that needs it.
class ShellLoader {
 public:
  ShellLoader() = default;
  ShellLoader(const ShellLoader&) = delete;
  ShellLoader& operator=(const ShellLoader&) = delete;
  ~ShellLoader();

  // ShellExecuteW with no owner window, parameters or folder; 0 when shell32 cannot be loaded (what
  // ShellExecute itself returns when the system is out of resources).
  std::intptr_t Execute(const wchar_t* operation, const wchar_t* file, int showCommand);

 private:
  // ShellExecuteW, loaded with COM at the first call; null when shell32 cannot be loaded.
  decltype(&::ShellExecuteW) ShellExecuteFunction();

  bool loaded_ = false;
  HMODULE ole32_ = nullptr;
  bool comInitialized_ = false;
  decltype(&::ShellExecuteW) shellExecute_ = nullptr;
};

}  // namespace velmor::win32impl
