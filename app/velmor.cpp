// The process entry: the Windows platform, the hidden agent window, the message loop.
#include "app/velmor.h"

#include <memory>

#include "app/AgentWindow.h"
#include "platform/win32/Win32Platform.h"

namespace velmor {

int RunAgent(AgentPlatform& os) {
  AgentState state;
  const AgentWindow window(os, state);  // hidden from creation on; the start timer counts from here
  os.RunMessageLoop();
  return 0;
}

}  // namespace velmor

// A GUI-subsystem program: mingw's start-up code calls main. With MSVC, link with
// /SUBSYSTEM:WINDOWS /ENTRY:mainCRTStartup.
//
// The agent is built without C++ exceptions: nothing can escape to here. What would have thrown in
// the runtime (an allocation that fails) ends the process at once (app/LeanRuntime.cpp).
int main() {
  const std::unique_ptr<velmor::AgentPlatform> os = velmor::CreateWin32Platform();
  return velmor::RunAgent(*os);
}
