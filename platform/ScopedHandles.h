// Owners for the handles that the logic opens through the seam: each closes its handle once, when it
// goes out of scope or is reset, in the reverse order of opening. Copying is deleted, so no handle is
// closed twice; a close keeps the thread's last error, so that closing a handle between a call and
// the GetLastError that tests it cannot change the answer.
#pragma once

#include <utility>

#include "platform/AgentPlatform.h"

namespace velmor {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(AgentPlatform& os) : os_(&os) {}
  UniqueHandle(AgentPlatform& os, Type handle) : os_(&os), handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : os_(other.os_), handle_(std::exchange(other.handle_, Type{})) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      os_ = other.os_;
      handle_ = std::exchange(other.handle_, Type{});
    }
    return *this;
  }
  ~UniqueHandle() { reset(); }

  [[nodiscard]] Type get() const { return handle_; }
  explicit operator bool() const { return handle_ != Type{}; }

  // Closes the handle held (a second call does nothing) and takes `handle` instead.
  void reset(Type handle = Type{}) {
    const Type previous = std::exchange(handle_, handle);
    if (previous != Type{}) {
      const Win32Status lastError = os_->GetLastError();
      Traits::Close(*os_, previous);
      os_->SetLastError(lastError);
    }
  }

  // Hands the handle over to the caller, unclosed.
  [[nodiscard]] Type release() { return std::exchange(handle_, Type{}); }

  // For a call that returns its handle through an out-parameter: closes the handle held and gives
  // the empty slot for the call to fill.
  [[nodiscard]] Type& put() {
    reset();
    return handle_;
  }

 private:
  AgentPlatform* os_ = nullptr;
  Type handle_{};
};

struct KernelHandleTraits {
  using Type = KernelHandle;
  static void Close(AgentPlatform& os, KernelHandle handle) { os.CloseHandle(handle); }
};

struct ServiceHandleTraits {
  using Type = ServiceHandle;
  static void Close(AgentPlatform& os, ServiceHandle handle) { os.CloseServiceHandle(handle); }
};

struct RegistryKeyTraits {
  using Type = RegistryKey;
  static void Close(AgentPlatform& os, RegistryKey key) { os.RegCloseKey(key); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;

// A kernel handle left open on purpose: the process ends right after using it, and the system closes
// it then. Its type says so, where a bare handle would read as a leak.
class KernelHandleOpenUntilExit {
 public:
  [[nodiscard]] KernelHandle get() const { return handle_; }
  // The slot for a call that returns the handle through an out-parameter.
  [[nodiscard]] KernelHandle& put() { return handle_; }

 private:
  KernelHandle handle_{};
};

}  // namespace velmor
