#include "tests/host/sim/SimProduct.h"

#include "peers/ProductPeers.h"
#include "tests/host/sim/SimDesktop.h"

namespace velmor::sim {

SimProduct::SimProduct(SimDesktop& desktop, std::uint32_t processId, WindowHandle window, std::optional<Ms> showAfter)
    : showAfterMs(showAfter), desktop_(desktop), processId_(processId), window_(window) {}

void SimProduct::Show() {
  if (SimWindow* window = desktop_.Window(window_); window != nullptr && window->alive) {
    window->visible = true;
    window->everShown = true;
  }
}

void SimProduct::Close() {
  desktop_.DestroyWindow(window_);
}

void SimProduct::OnMessage(std::uint32_t message, MessageWParam wParam, MessageLParam lParam) {
  const bool trayClick =
      message == peers::kTrayMessage && wParam == peers::kTrayClickWParam && lParam == peers::kTrayClickLParam;
  if (!trayClick) {
    return;
  }
  ++trayClicks_;
  if (!showAfterMs) {
    return;
  }
  if (*showAfterMs == 0) {
    Show();
  } else {
    desktop_.At(desktop_.Now() + *showAfterMs, [this] { Show(); });
  }
}

}  // namespace velmor::sim
