// Functions of a library looked up at run time by name: for system DLLs loaded only when needed, and
// exports that older Windows versions lack.
#pragma once

#include <windows.h>

namespace velmor::win32impl {

// The export `name` of `library`, as its declared type; null when the library is not loaded or lacks it.
template <typename Function>
Function LibraryFunction(HMODULE library, const char* name) {
  if (library == nullptr) {
    return nullptr;
  }
  // GetProcAddress's generic type is cast through the one that stands for any function.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
}

}  // namespace velmor::win32impl
