// Watching the z-order of top-level windows: under Wine a switch to a window shows only as that
// window coming to the top.
#pragma once

#include <windows.h>

#include <future>
#include <thread>

namespace velmor::e2e {

// Whether `upper` lies above `lower` in the z-order of the top-level windows.
bool IsAbove(HWND upper, HWND lower);

// A visible window of another program, on its own thread with its own message loop, shown over
// whatever lies on top when it is made.
class CoverWindow {
 public:
  CoverWindow();
  CoverWindow(const CoverWindow&) = delete;
  CoverWindow& operator=(const CoverWindow&) = delete;
  ~CoverWindow();

  [[nodiscard]] HWND Handle() const { return window_; }

 private:
  static void Run(std::promise<HWND>& made);

  std::thread thread_;
  HWND window_ = nullptr;
};

}  // namespace velmor::e2e
