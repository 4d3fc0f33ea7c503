// The takeover: a second agent whose product window did not come forward in time makes the agent it
// waited on quit and takes its place. Of several that do so at once, one stays.
#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "app/AgentWindow.h"
#include "app/SingleInstance.h"
#include "peers/AgentContract.h"
#include "peers/AgentTimes.h"
#include "platform/ScopedHandles.h"
#include "platform/Trace.h"

namespace velmor {

namespace {

// Ending a process is safe only for an agent of this session whose integrity level is not above this
// agent's.
bool IsAgentProcessToEnd(AgentPlatform& os, KernelHandle process, std::uint32_t processId) {
  if (!IsAgentOfThisSession(os, process, processId)) {
    return false;
  }
  const std::optional<std::uint32_t> level = os.GetProcessIntegrityLevel(process);
  const std::optional<std::uint32_t> ownLevel = os.GetProcessIntegrityLevel(os.GetCurrentProcess());
  return level && ownLevel && *level <= *ownLevel;
}

// Makes the other agent quit and waits until it has released its marker handle. An agent that does
// not answer in time while its window still exists hangs: its process is ended, so that no hung
// twin stays findable under the agent's caption. Returns what became of it, for the trace.
TraceWord MakeAgentQuit(AgentPlatform& os, WindowHandle other) {
  MessageResult ignored = 0;
  constexpr peers::AgentCommandMessage kQuit = peers::QuitCommand();
  if (os.SendMessageTimeoutA(other, kQuit.message, kQuit.wParam, kQuit.lParam, win32::kSmtoAbortIfHung,
                             times::kQuitAnswerTimeoutMs, ignored)) {
    return "quit";
  }
  if (!os.IsWindow(other)) {
    return "gone";  // it ended meanwhile
  }
  const std::uint32_t processId = os.GetWindowThreadProcessId(other);
  if (processId == 0) {
    return "gone";
  }
  const UniqueKernelHandle process(
      os, os.OpenProcess(win32::kProcessTerminate | win32::kSynchronize | win32::kProcessQueryLimitedInformation, false,
                         processId));
  if (!process) {
    return "hung-left-alone";
  }
  // With the handle open, the id cannot pass to another process: the window must still be this one's.
  if (os.GetWindowThreadProcessId(other) != processId || !IsAgentProcessToEnd(os, process.get(), processId)) {
    return "hung-left-alone";
  }
  if (!os.TerminateProcess(process.get(), 0)) {
    return "hung-not-ended";
  }
  os.WaitForSingleObject(process.get(), times::kHungAgentExitWaitMs);
  return "hung-ended";
}

}  // namespace

void AgentWindow::TakeOverFromStuckAgent() {
  StopAllTimers();

  // A free lock means nobody is resident: nobody is asked to quit, not even a successor of the same
  // storm that won it a moment ago.
  if (!residence_.Take(0)) {
    // The agents that were there while this one waited, and only those: an agent named since is
    // another successor, which this one leaves alone. Programs that bear the agent's name are asked
    // too, without waiting on them, and never ended.
    const NamedWindows named = FindAgentWindows(os_);
    for (const WindowHandle other : named.others) {
      constexpr peers::AgentCommandMessage kQuit = peers::QuitCommand();
      os_.PostMessageA(other, kQuit.message, kQuit.wParam, kQuit.lParam);
    }
    bool anyAsked = false;
    for (const WindowHandle other : named.agents) {
      if (std::find(agentsSeenWhileWaiting_.begin(), agentsSeenWhileWaiting_.end(), other) !=
          agentsSeenWhileWaiting_.end()) {
        anyAsked = true;
        TraceLine(os_, "takeover").Add("first-agent", MakeAgentQuit(os_, other));
      }
    }
    if (!anyAsked) {
      TraceLine(os_, "takeover").Add("first-agent", "none-found");
    }
    if (endedForGood_) {
      return;  // the session ended while the takeover waited on an agent: nothing is taken any more
    }
    // The agents that quit gave the lock back. Of several successors, the one that gets it stays. A
    // lock that nobody answering under the agent's name holds is a program's: this agent stays all
    // the same, as no program may switch the agent off.
    if (!residence_.Take(times::kResidenceWaitMs)) {
      if (!FindAgentWindows(os_).agents.empty()) {
        EndBecause("takeover-lost");
        return;
      }
      TraceLine(os_, "takeover").Add("residence-lock", "held-by-no-agent");
    }
  } else {
    TraceLine(os_, "takeover").Add("first-agent", "none-resident");
  }
  // An agent that found the marker's name taken at its start holds no marker: it makes it now, so that
  // the next start finds it and behaves as a second agent.
  if (!state_.instanceMarker) {
    state_.instanceMarker = CreateInstanceMarker(os_);
  }
  state_.role = AgentRole::Successor;  // keeps the marker handle; never claims the marker again
  RunStartSequence();
}

}  // namespace velmor
