// The agent window: hidden for the agent's whole life, it owns the agent's timers, receives the
// command message, and is how other processes find the agent.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "app/WebPages.h"
#include "integration/Environment.h"
#include "peers/AgentTimes.h"
#include "platform/AgentPlatform.h"
#include "platform/ScopedHandles.h"
#include "platform/Trace.h"

namespace velmor {

// Which agent this is. Each start pass settles first or second; the takeover makes a second agent
// the successor, for good.
enum class AgentRole {
  First,      // made the single-instance marker and owns the residence lock: it may stay resident
  Second,     // another agent holds the marker: it brings the product forward and ends, or takes over
  Successor,  // a second agent that took over: it stays in the place of the agent it replaced
};

// The state that outlives a single handler. Created before the window, alive until the process ends.
struct AgentState {
  AgentRole role = AgentRole::First;
  // Whether the product's window was there when the start pass looked. Taken as up until a pass has
  // looked.
  bool productUp = true;
  // Whether another version of the product runs, as the install-time road found it.
  bool otherVersionRunning = false;
  // This agent's handle to the single-instance marker; released when the agent window closes.
  UniqueKernelHandle instanceMarker;
};

// How long bringing the product forward may go on before an agent that does not stay gives up
// (Activation.cpp).
enum class ActivationBudget {
  Standard,  // a resident agent until the window shows, a second agent until its watchdog, else the watchdog's worth of
             // attempts
  OneAttempt,  // after a declined restart, and where nobody sees the desktop
};

// The agent window's timers, by the ids it gives them.
struct AgentTimer {
  static constexpr TimerId Activation = 1;
  static constexpr TimerId Start = 2;
  static constexpr TimerId Watchdog = 3;
};

class AgentWindow final : public AgentWindowEvents {
 public:
  // Creates the agent window, hidden, with the caption "Shell"; the start timer begins to count.
  AgentWindow(AgentPlatform& os, AgentState& state);
  AgentWindow(const AgentWindow&) = delete;
  AgentWindow& operator=(const AgentWindow&) = delete;
  AgentWindow(AgentWindow&&) = delete;
  AgentWindow& operator=(AgentWindow&&) = delete;
  ~AgentWindow() override;

  // The window handle; null when the window could not be created.
  [[nodiscard]] WindowHandle Handle() const { return handle_; }

  // Ends the agent: releases the residence lock and then the instance marker now, stops the timers and makes the
  // message loop end once control returns to it (after the messages posted before). The calling handler runs on to its
  // end; a second call does no harm.
  void Close();
  // Close, with a trace line that says why the agent ends (the first reason only: an agent ends once).
  void EndBecause(TraceWord reason);
  // Ends the agent for good, when it is no longer the user's to end: the session ends, the Restart
  // Manager closes the agent, a timer is refused, the message loop is told to quit. The handler that runs
  // meanwhile (one that showed a dialog) does nothing more that anyone could see: no attempt to bring
  // the product forward, no timer, no takeover, no second end line. The quit command is the user's:
  // after it, the handler runs on to its end.
  void EndForGood(const TraceWord& reason);
  // Releases this agent's handle to the single-instance marker. Safe to run more than once.
  void ReleaseInstanceMarker();

 private:
  // One of the window's timers, stopped until started. Starting a running timer keeps its rhythm.
  struct Timer {
    TimerId id{};
    std::uint32_t intervalMs = 0;
    bool running = false;
  };

  // AgentWindowEvents: each message the window serves. A tick goes, in AgentWindow.cpp, to the step its
  // timer starts: the start sequence (StartSequence.cpp), an activation attempt (Activation.cpp) or the
  // takeover (Takeover.cpp); the command message is handled in AgentCommand.cpp, the close request and
  // the window's loss in AgentWindow.cpp, the end of the session in SessionEnd.cpp.
  void OnTimer(TimerId timer) override;
  void OnAgentCommand(MessageWParam command, MessageLParam argument) override;
  void OnCloseRequest() override;
  void OnWindowGone() override;
  void OnEndSession(bool ending, bool closeApplicationOnly) override;
  void OnQuitMessage() override;

  // An agent that stays resident asks Windows to start it again, as at logon, once the Restart
  // Manager has ended it to replace its files (SessionEnd.cpp).
  void RegisterForRestartIfResident();

  // The start sequence, one step after another (StartSequence.cpp): once per start, and once more
  // after a takeover.
  void RunStartSequence();
  // Install time: points the autostart value at this agent and offers the restart when the product or
  // another version of it runs. False when the agent ended here.
  bool RunInstallTimeRoad();
  // Logon: false when the autostart value switches the agent off and it ended.
  bool RunLogonRoad();
  // A second agent: brings the product forward and ends, arming the takeover watchdog when the
  // product's window was not there.
  void RunSecondAgentRoad();
  // A first agent or a successor: the version gate and the service request when the product is not
  // up, then the product brought forward unless this is a logon start.
  void RunFirstAgentRoad();
  // Whether this agent stays resident once its start work and bringing the product forward are done.
  // Decided here and nowhere else.
  [[nodiscard]] bool StaysResident() const;
  [[nodiscard]] bool Unreachable() const { return reach_ != Reach::Reachable; }
  // The end reason of an agent that its reach keeps from staying: "elevated" or "non-interactive".
  [[nodiscard]] TraceWord UnreachableReason() const;

  // Starts counting the attempts to bring the product forward afresh, within `budget` (Activation.cpp).
  void SetActivationBudget(ActivationBudget budget);
  // One attempt to bring the product window to the front (Activation.cpp).
  void TryActivateProduct();
  // Where bringing the product forward ends, shown or given up: the agent stays resident or ends.
  void EndActivation(bool shown);
  // Makes a first agent that did not bring the product window forward in time quit, and runs the
  // start sequence again in its place (Takeover.cpp).
  void TakeOverFromStuckAgent();

  void Start(Timer& timer);
  void Stop(Timer& timer);
  void StopAllTimers();
  // Hides the agent window; nothing happens when it is hidden already.
  void HideAgentWindow();

  AgentPlatform& os_;
  AgentState& state_;
  WindowHandle handle_{};
  const WebPageTable webPages_;
  // Settled by each start pass.
  Reach reach_ = Reach::Reachable;
  // The first command-line argument, as the start pass read it.
  StartArgument argument_ = StartArgument::None;
  // The failed activation attempts of the current start pass, and the budget they are counted against.
  int activationAttempts_ = 0;
  ActivationBudget activationBudget_ = ActivationBudget::Standard;
  // The end line is written (an agent ends once), and the end is for good (EndForGood).
  bool endTraced_ = false;
  bool endedForGood_ = false;
  // Owned while this agent may stay resident: by a first agent from its start, by a successor from
  // its takeover.
  ResidenceLock residence_{os_};
  // The agents a second agent saw at its start, or in its first attempts when none had named itself
  // yet: those its takeover makes quit.
  std::vector<WindowHandle> agentsSeenWhileWaiting_;

  Timer startTimer_{AgentTimer::Start, times::kStartDelayMs};
  Timer activationTimer_{AgentTimer::Activation, times::kActivationIntervalMs};
  Timer watchdogTimer_{AgentTimer::Watchdog, times::kWatchdogIntervalMs};
};

}  // namespace velmor
