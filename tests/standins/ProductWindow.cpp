// Stands in for the product's main window: a hidden top-level window of class "TMainForm" captioned
// "Tessaly 2024" that shows itself when it receives the tray click, after a delay or never.
//
//   tessaly_window.exe [--log <file>] [--show-after <ms>|never] [--visible]
//
// Log lines: "started <pid>", "tray <wParam> <lParam>" for every kTrayMessage, "shown" when it
// shows itself, "closed" when it ends.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "peers/ProductPeers.h"
#include "tests/standins/StandinLog.h"

namespace {

constexpr UINT_PTR kShowTimer = 1;

struct Options {
  std::string log;
  bool showOnClick = true;
  UINT showAfterMs = 0;
  bool visible = false;
};

Options g_options;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  using velmor::peers::kTrayMessage;
  switch (message) {
    case kTrayMessage: {
      velmor::standins::AppendLogLine(g_options.log, "tray " + std::to_string(wParam) + " " + std::to_string(lParam));
      const bool isClick = wParam == velmor::peers::kTrayClickWParam && lParam == velmor::peers::kTrayClickLParam;
      if (isClick && g_options.showOnClick && !::IsWindowVisible(window)) {
        if (g_options.showAfterMs == 0) {
          // Logged first, so that whoever sees the window visible finds the line written.
          velmor::standins::AppendLogLine(g_options.log, "shown");
          ::ShowWindow(window, SW_SHOWNORMAL);
        } else {
          ::SetTimer(window, kShowTimer, g_options.showAfterMs, nullptr);
        }
      }
      return 0;
    }
    case WM_TIMER:
      if (wParam == kShowTimer) {
        ::KillTimer(window, kShowTimer);
        velmor::standins::AppendLogLine(g_options.log, "shown");
        ::ShowWindow(window, SW_SHOWNORMAL);
      }
      return 0;
    case WM_DESTROY:
      velmor::standins::AppendLogLine(g_options.log, "closed");
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

void ParseOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--log" && i + 1 < argc) {
      g_options.log = argv[++i];
    } else if (arg == "--show-after" && i + 1 < argc) {
      const std::string_view value = argv[++i];
      if (value == "never") {
        g_options.showOnClick = false;
      } else {
        g_options.showAfterMs = static_cast<UINT>(std::strtoul(argv[i], nullptr, 10));
      }
    } else if (arg == "--visible") {
      g_options.visible = true;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  ParseOptions(argc, argv);
  const std::string className(velmor::peers::kProductWindowClass);
  const std::string caption(velmor::peers::kProductWindowCaption);

  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = className.c_str();
  if (::RegisterClassA(&windowClass) == 0) {
    return 1;
  }
  HWND window = ::CreateWindowExA(0, className.c_str(), caption.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) {
    return 1;
  }
  if (g_options.visible) {
    ::ShowWindow(window, SW_SHOWNORMAL);
  }
  velmor::standins::AppendLogLine(g_options.log, "started " + std::to_string(::GetCurrentProcessId()));

  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  return 0;
}
