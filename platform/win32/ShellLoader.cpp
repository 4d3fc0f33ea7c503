#include "platform/win32/ShellLoader.h"

#include <windows.h>
// windows.h first: these need its types.
#include <objbase.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "platform/win32/LibraryFunction.h"

namespace velmor::win32impl {

// SetDefaultDllDirectories is missing before Windows 8 without an update, so it is looked up;
// SetDllDirectoryW(L"") at least takes the current folder out of the search there.
void RestrictDllSearchToSystemFolder() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  if (const auto setDefault = LibraryFunction<SetDefaultDllDirectoriesFunction>(::GetModuleHandleW(L"kernel32.dll"),
                                                                                "SetDefaultDllDirectories")) {
    setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  ::SetDllDirectoryW(L"");
}

namespace {

// A DLL of the system folder. LOAD_LIBRARY_SEARCH_SYSTEM32 is refused (ERROR_INVALID_PARAMETER) before
// Windows 8 without the update that brought SetDefaultDllDirectories: there the DLL is loaded by its
// full path in the system folder, which no search order can redirect.
HMODULE LoadSystemLibrary(const wchar_t* fileName) {
  if (const HMODULE module = ::LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return module;
  }
  if (::GetLastError() != ERROR_INVALID_PARAMETER) {
    return nullptr;
  }
  std::wstring path(MAX_PATH, L'\0');
  const UINT length = ::GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
  if (length == 0 || length >= path.size()) {
    return nullptr;
  }
  path.resize(length);
  path += L'\\';
  path += fileName;
  return ::LoadLibraryExW(path.c_str(), nullptr, 0);
}

}  // namespace

ShellLoader::~ShellLoader() {
  if (comInitialized_) {
    LibraryFunction<decltype(&::CoUninitialize)>(ole32_, "CoUninitialize")();
  }
}

decltype(&::ShellExecuteW) ShellLoader::ShellExecuteFunction() {
  if (!loaded_) {
    loaded_ = true;
    ole32_ = LoadSystemLibrary(L"ole32.dll");
    if (const auto coInitializeEx = LibraryFunction<decltype(&::CoInitializeEx)>(ole32_, "CoInitializeEx")) {
      comInitialized_ = SUCCEEDED(coInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    }
    shellExecute_ = LibraryFunction<decltype(&::ShellExecuteW)>(LoadSystemLibrary(L"shell32.dll"), "ShellExecuteW");
  }
  return shellExecute_;
}

std::intptr_t ShellLoader::Execute(const wchar_t* operation, const wchar_t* file, int showCommand) {
  const auto shellExecute = ShellExecuteFunction();
  if (shellExecute == nullptr) {
    return 0;
  }
  return reinterpret_cast<std::intptr_t>(shellExecute(nullptr, operation, file, nullptr, nullptr, showCommand));
}

}  // namespace velmor::win32impl
