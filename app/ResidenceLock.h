// The residence lock: a named mutex that only the resident agent owns. An agent stays resident only
// while it owns the lock, so that whatever starts at once, at most one agent is resident.
#pragma once

#include <cstdint>

#include "platform/AgentPlatform.h"
#include "platform/ScopedHandles.h"

namespace velmor {

class ResidenceLock {
 public:
  explicit ResidenceLock(AgentPlatform& os) : os_(os), mutex_(os) {}
  ResidenceLock(const ResidenceLock&) = delete;
  ResidenceLock& operator=(const ResidenceLock&) = delete;
  ResidenceLock(ResidenceLock&&) = delete;
  ResidenceLock& operator=(ResidenceLock&&) = delete;
  ~ResidenceLock() { Release(); }

  // Takes the lock, waiting up to `waitMs` for its owner to let go; true when this agent owns it. A
  // lock whose owner ended without letting go counts as free. When the lock cannot be made (its name
  // taken by an object of another kind, or one this agent may not open), the agent cannot tell that
  // no other agent is resident, and the answer is false.
  bool Take(std::uint32_t waitMs);
  // Gives the lock back, if this agent owns it, and lets go of its name.
  void Release();

 private:
  AgentPlatform& os_;
  UniqueKernelHandle mutex_;
  bool owned_ = false;
};

}  // namespace velmor
