#include "app/ResidenceLock.h"

#include "peers/AgentContract.h"

namespace velmor {

bool ResidenceLock::Take(std::uint32_t waitMs) {
  if (owned_) {
    return true;
  }
  if (!mutex_) {
    mutex_.reset(os_.CreateMutexA(peers::kResidenceLockName));
    if (!mutex_) {
      return false;
    }
  }
  const std::uint32_t wait = os_.WaitForSingleObject(mutex_.get(), waitMs);
  owned_ = wait == win32::kWaitObject0 || wait == win32::kWaitAbandoned;
  return owned_;
}

void ResidenceLock::Release() {
  if (owned_) {
    os_.ReleaseMutex(mutex_.get());
    owned_ = false;
  }
  mutex_.reset();
}

}  // namespace velmor
