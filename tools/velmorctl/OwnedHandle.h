// A kernel handle that velmorctl opened (the agent's process, the debug output channel's events and
// mapping), closed once when it goes out of scope.
#pragma once

#include <windows.h>

namespace velmor::ctl {

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() {
    if (handle_ != nullptr) {
      CloseHandle(handle_);
    }
  }
  [[nodiscard]] HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace velmor::ctl
