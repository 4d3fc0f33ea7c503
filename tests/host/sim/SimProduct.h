// The product's stand-ins on the simulated desktop: its main window, which shows itself on the
// tray click after a delay (or never), and the markers of other product versions.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/AgentPlatform.h"
#include "tests/host/sim/SimSystem.h"

namespace velmor::sim {

class SimDesktop;

enum class ProductStart { Hidden, Visible };

class SimProduct {
 public:
  SimProduct(SimDesktop& desktop, std::uint32_t processId, WindowHandle window, std::optional<Ms> showAfterMs);

  [[nodiscard]] WindowHandle Window() const { return window_; }
  [[nodiscard]] std::uint32_t ProcessId() const { return processId_; }
  [[nodiscard]] int TrayClicks() const { return trayClicks_; }

  void Show();
  void Close();
  // How long after a tray click the hidden window shows itself; empty: never.
  std::optional<Ms> showAfterMs;
  // How long the product's thread blocks in the first switch to its window (it answers everything
  // before at once); empty: it does not.
  std::optional<Ms> blockInSwitchMs;

  // A message reaching the window, posted or sent.
  void OnMessage(std::uint32_t message, MessageWParam wParam, MessageLParam lParam);

 private:
  SimDesktop& desktop_;
  std::uint32_t processId_;
  WindowHandle window_;
  int trayClicks_ = 0;
};

}  // namespace velmor::sim
