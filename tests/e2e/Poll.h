// Waiting for a condition with a bound, instead of sleeping for a fixed time.
#pragma once

#include <windows.h>

#include <chrono>

namespace velmor::e2e {

using namespace std::chrono_literals;

// Checks `condition` until it holds or `bound` has passed; returns whether it held.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds bound,
               std::chrono::milliseconds interval = std::chrono::milliseconds(25)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    if (condition()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    ::Sleep(static_cast<DWORD>(interval.count()));
  }
}

}  // namespace velmor::e2e
