// The benchmark's baseline: the smallest program that does the agent's visible job when it is
// resident, under the same contract. It carries the agent's application manifest (Baseline.rc),
// creates and holds the single-instance marker, registers the agent's window class, creates the
// hidden window captioned "Shell", renames it from a 1 ms timer, pumps messages and quits on the
// command. The agent's figures are measured against this one's.
#include <windows.h>

#include <string>

#include "peers/AgentContract.h"

namespace {

constexpr UINT_PTR kRenameTimer = 1;

LRESULT CALLBACK BaselineWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER && wParam == kRenameTimer) {
    KillTimer(window, kRenameTimer);
    SetWindowTextA(window, std::string(velmor::peers::kAgentWindowCaption).c_str());
    return 0;
  }
  constexpr velmor::peers::AgentCommandMessage kQuit = velmor::peers::QuitCommand();
  if (message == kQuit.message && wParam == kQuit.wParam && lParam == kQuit.lParam) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  // Held until the process ends. If it existed, an agent still runs and the figures would not be
  // this program's alone: it ends instead, and the prober reports that it never became findable.
  const std::string markerName(velmor::peers::kInstanceMarkerName);
  const HANDLE marker = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1, markerName.c_str());
  if (marker == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
    return 1;
  }
  const std::string className(velmor::peers::kAgentWindowClass);
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = BaselineWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = className.c_str();
  if (RegisterClassExA(&windowClass) == 0) {
    return 1;
  }
  const HWND window = CreateWindowExA(0, className.c_str(), std::string(velmor::peers::kAgentInitialCaption).c_str(),
                                      WS_POPUP, 0, 0, 150, 150, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    return 1;
  }
  SetTimer(window, kRenameTimer, 1, nullptr);
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    DispatchMessageA(&message);
  }
  CloseHandle(marker);
  return 0;
}
