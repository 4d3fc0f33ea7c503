// The owners for the Windows handles the tests open: the Windows side's own (each closes its handle
// once), under the names the tests use.
#pragma once

#include "platform/win32/Win32Handles.h"

namespace velmor::e2e {

// A process, thread, event or mapping handle (null when there is none).
using UniqueHandle = UniqueWin32Handle;
using UniqueService = UniqueWin32Service;
using UniqueKey = UniqueWin32Key;

}  // namespace velmor::e2e
