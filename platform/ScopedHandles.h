// Owners for the handles that the logic opens through the seam: each closes its handle once,
// when it goes out of scope, in the reverse order of opening.
#pragma once

#include <utility>

#include "platform/AgentPlatform.h"

namespace velmor {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
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

  // Closes the handle now; a second call does nothing.
  void reset() {
    if (handle_ != Type{}) {
      Traits::Close(*os_, std::exchange(handle_, Type{}));
    }
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

}  // namespace velmor
