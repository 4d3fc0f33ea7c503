#include "tests/e2e/ZOrder.h"

namespace velmor::e2e {

namespace {

LRESULT CALLBACK CoverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool IsAbove(HWND upper, HWND lower) {
  for (HWND window = ::GetWindow(upper, GW_HWNDNEXT); window != nullptr; window = ::GetWindow(window, GW_HWNDNEXT)) {
    if (window == lower) {
      return true;
    }
  }
  return false;
}

CoverWindow::CoverWindow() {
  std::promise<HWND> made;
  auto window = made.get_future();
  thread_ = std::thread([&made] { Run(made); });
  window_ = window.get();
}

CoverWindow::~CoverWindow() {
  if (window_ != nullptr) {
    ::PostMessageA(window_, WM_CLOSE, 0, 0);
  }
  thread_.join();
}

void CoverWindow::Run(std::promise<HWND>& made) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = CoverWindowProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "VelmorTestCover";
  ::RegisterClassA(&windowClass);
  HWND window = ::CreateWindowExA(0, windowClass.lpszClassName, "Another program", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window != nullptr) {
    ::ShowWindow(window, SW_SHOWNORMAL);
  }
  made.set_value(window);
  if (window == nullptr) {
    return;
  }
  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

}  // namespace velmor::e2e
