// Owners for handles: each closes its handle once, when it goes out of scope or is reset, in the
// reverse order of opening. The logic's handles are opened and closed through the seam; the Windows
// side's own use the same owner (platform/win32/Win32Handles.h). Copying is deleted, so no handle is
// closed twice; a close keeps the thread's last error, so that closing a handle between a call and
// the GetLastError that tests it cannot change the answer.
#pragma once

#include <type_traits>
#include <utility>

#include "platform/AgentPlatform.h"

namespace velmor {

// Traits say what a handle is (Type, whose value-initialised form is "no handle"), how to close it
// (Close) and how to read and restore the thread's last error around the close. Traits of handles
// opened through the seam carry the platform; traits of the Win32 side's own handles
// (platform/win32/Win32Handles.h) carry nothing.
template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(Traits traits) : traits_(traits) {}
  UniqueHandle(Traits traits, Type handle) : traits_(traits), handle_(handle) {}
  // For traits that carry nothing.
  explicit UniqueHandle(Type handle) requires std::is_empty_v<Traits> : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : traits_(other.traits_), handle_(std::exchange(other.handle_, Type{})) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      traits_ = other.traits_;
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
      const auto lastError = traits_.LastError();
      traits_.Close(previous);
      traits_.RestoreLastError(lastError);
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
  [[no_unique_address]] Traits traits_{};
  Type handle_{};
};

// Handles opened through the seam are closed through it, keeping the last error the seam reports.
struct SeamHandleTraits {
  SeamHandleTraits() = default;
  // Implicit, so that an owner is made from the platform alone: UniqueKernelHandle marker(os).
  // cppcheck-suppress noExplicitConstructor
  SeamHandleTraits(AgentPlatform& platform) : os(&platform) {}  // NOLINT(google-explicit-constructor)
  [[nodiscard]] Win32Status LastError() const { return os->GetLastError(); }
  void RestoreLastError(Win32Status error) const { os->SetLastError(error); }
  AgentPlatform* os = nullptr;
};

struct KernelHandleTraits : SeamHandleTraits {
  using SeamHandleTraits::SeamHandleTraits;
  using Type = KernelHandle;
  void Close(KernelHandle handle) const { os->CloseHandle(handle); }
};

struct ServiceHandleTraits : SeamHandleTraits {
  using SeamHandleTraits::SeamHandleTraits;
  using Type = ServiceHandle;
  void Close(ServiceHandle handle) const { os->CloseServiceHandle(handle); }
};

struct RegistryKeyTraits : SeamHandleTraits {
  using SeamHandleTraits::SeamHandleTraits;
  using Type = RegistryKey;
  void Close(RegistryKey key) const { os->RegCloseKey(key); }
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
