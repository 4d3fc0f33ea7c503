// Small owners for the Windows handles the tests open: each closes its handle once.
#pragma once

#include <windows.h>

#include <utility>

namespace velmor::e2e {

template <typename Handle, typename Traits>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, Traits::Invalid())) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, Traits::Invalid());
    }
    return *this;
  }
  ~Owned() { reset(); }

  [[nodiscard]] Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::Invalid(); }
  void reset() {
    if (handle_ != Traits::Invalid()) {
      Traits::Close(std::exchange(handle_, Traits::Invalid()));
    }
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct KernelTraits {
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE handle) { ::CloseHandle(handle); }
};
struct ServiceTraits {
  static SC_HANDLE Invalid() { return nullptr; }
  static void Close(SC_HANDLE handle) { ::CloseServiceHandle(handle); }
};
struct KeyTraits {
  static HKEY Invalid() { return nullptr; }
  static void Close(HKEY key) { ::RegCloseKey(key); }
};

// A process, thread, event or mapping handle (null when there is none).
using UniqueHandle = Owned<HANDLE, KernelTraits>;
using UniqueService = Owned<SC_HANDLE, ServiceTraits>;
using UniqueKey = Owned<HKEY, KeyTraits>;

}  // namespace velmor::e2e
