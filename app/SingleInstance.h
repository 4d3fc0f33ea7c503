// The single instance: the marker each start claims to learn whether it is the first agent, the
// residence lock that at most one agent owns while it stays, and the agents' windows, told from the
// windows of other programs that bear the same class and caption. velmorctl finds agents the same way.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "peers/AgentContract.h"
#include "platform/AgentPlatform.h"
#include "platform/ScopedHandles.h"

namespace velmor {

// The residence lock: a named mutex that only the resident agent owns. An agent stays resident only
// while it owns the lock, so that whatever starts at once, at most one agent is resident.
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

// What claiming the single-instance marker found; the role follows from it, and the trace names it.
enum class MarkerClaim {
  Made,                   // made afresh, and the residence lock owned: a first agent
  MadeLockHeldByNoAgent,  // made afresh; a program holds the lock, no agent answers: a first agent all the same
  ResidentElsewhere,      // made afresh while an agent resident without a marker owns the lock: a second agent
  Existed,                // another agent made it: a second agent
  Denied,                 // it exists and may not be opened (other rights, or a squatter): a second agent
  OtherObject,            // an object of another kind bears its name: a second agent
  Failed,                 // any other failure: the agent ends (the trace says why)
};

// Creates the single-instance marker, or opens it when it exists (GetLastError says 183 then).
UniqueKernelHandle CreateInstanceMarker(AgentPlatform& os);

// Claims the single-instance marker into `marker`, or finds it taken, and says what it found. An agent
// that may stay resident takes the residence lock when it made the marker afresh.
MarkerClaim ClaimInstanceMarker(AgentPlatform& os, UniqueKernelHandle& marker, ResidenceLock& residence, bool mayStay);

// Whether the process runs the agent in this process's session: its image is velmor.exe and its
// session is this one's. `process` needs PROCESS_QUERY_LIMITED_INFORMATION.
bool IsAgentOfThisSession(AgentPlatform& os, KernelHandle process, std::uint32_t processId);

// The top-level windows that bear the agent's class and `caption` (by default its name; a second agent,
// waiting, keeps its first caption), from the top of the z-order: those of agents of this session, and
// those of other programs (any program may give a window of its own the agent's name), among them any
// whose process cannot be looked at.
struct NamedWindows {
  std::vector<WindowHandle> agents;
  std::vector<WindowHandle> others;
};
NamedWindows FindAgentWindows(AgentPlatform& os, std::string_view caption = peers::kAgentWindowCaption);

}  // namespace velmor
