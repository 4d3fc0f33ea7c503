#include "app/SingleInstance.h"

#include <cstddef>
#include <string_view>

#include "app/AgentVersion.h"
#include "peers/AgentContract.h"
#include "platform/AsciiCase.h"
#include "platform/Trace.h"

namespace velmor {
namespace {

// Whether the window belongs to an agent of this session.
bool IsAgentWindow(AgentPlatform& os, WindowHandle window) {
  const std::uint32_t processId = os.GetWindowThreadProcessId(window);
  if (processId == 0) {
    return false;
  }
  const UniqueKernelHandle process(os, os.OpenProcess(win32::kProcessQueryLimitedInformation, false, processId));
  return process && IsAgentOfThisSession(os, process.get(), processId);
}

// No desktop has more than a handful of agents; a program that makes thousands of windows bearing
// the agent's name does not make the search walk them all, nor hide an agent behind a few of them.
constexpr std::size_t kAgentWindowLimit = 16;
constexpr std::size_t kNamedWindowWalkLimit = 256;

}  // namespace

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

UniqueKernelHandle CreateInstanceMarker(AgentPlatform& os) {
  return {os, os.CreateFileMappingA(win32::kPageReadWrite, 0, 1, peers::kInstanceMarkerName)};
}

MarkerClaim ClaimInstanceMarker(AgentPlatform& os, UniqueKernelHandle& marker, ResidenceLock& residence, bool mayStay) {
  marker = CreateInstanceMarker(os);
  const Win32Status error = os.GetLastError();
  if (!marker) {
    // Access denied: the marker exists, made by an agent with other rights or by a program that
    // squats the name; an invalid handle: an object of another kind bears its name. Either is taken
    // as held by another agent, so that the user's start still does its part.
    if (error == win32::kErrorAccessDenied) {
      return MarkerClaim::Denied;
    }
    if (error == win32::kErrorInvalidHandle) {
      return MarkerClaim::OtherObject;
    }
    TraceLine(os, "start").Add("marker", "failed").Add("error", error).AddText("version", AgentVersion());
    return MarkerClaim::Failed;
  }
  if (error == win32::kErrorAlreadyExists) {  // the handle is held all the same
    return MarkerClaim::Existed;
  }
  // A fresh marker while the residence lock is owned: an agent took over when the marker's name was
  // taken, and is resident without one. This agent is a second agent to it. Only an agent that answers
  // under the agent's name counts: a lock that a program holds switches nobody off, and this agent
  // stays without it. An agent that never stays resident leaves the lock to the agents that may.
  if (mayStay && !residence.Take(0)) {
    return FindAgentWindows(os).agents.empty() ? MarkerClaim::MadeLockHeldByNoAgent : MarkerClaim::ResidentElsewhere;
  }
  return MarkerClaim::Made;
}

bool IsAgentOfThisSession(AgentPlatform& os, KernelHandle process, std::uint32_t processId) {
  // In UTF-16 a backslash is never part of another character.
  const std::wstring image = os.QueryFullProcessImageNameW(process);
  const std::wstring_view fileName = std::wstring_view(image).substr(image.rfind(L'\\') + 1);  // npos + 1: all
  if (!EqualsIgnoringAsciiCase(fileName, peers::kAgentExecutableName)) {
    return false;
  }
  std::uint32_t session = 0;
  std::uint32_t ownSession = 0;
  return os.ProcessIdToSessionId(processId, session) && os.ProcessIdToSessionId(os.GetCurrentProcessId(), ownSession) &&
         session == ownSession;
}

NamedWindows FindAgentWindows(AgentPlatform& os, std::string_view caption) {
  NamedWindows found;
  WindowHandle window = kNoWindow;
  for (std::size_t walked = 0; walked < kNamedWindowWalkLimit && found.agents.size() < kAgentWindowLimit &&
                               (window = os.FindWindowExA(window, peers::kAgentWindowClass, caption)) != kNoWindow;
       ++walked) {
    (IsAgentWindow(os, window) ? found.agents : found.others).push_back(window);
  }
  return found;
}

}  // namespace velmor
