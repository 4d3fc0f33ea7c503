// The agent window: hidden for the agent's whole life, it owns the agent's timers, receives the
// command message, and is how other processes find the agent.
#pragma once

#include <cstdint>
#include <string_view>

#include "app/WebPages.h"
#include "platform/AgentPlatform.h"
#include "platform/ScopedHandles.h"

namespace velmor {

// The state that outlives a single handler. Created before the window, alive until the process ends.
struct AgentState {
  // When true, the start sequence creates the single-instance marker (or opens it if it exists).
  // Cleared for good by the takeover.
  bool createInstanceMarker = true;
  // The product, or another version of it, is taken as running.
  bool productRunning = true;
  // This agent's handle to the single-instance marker; released when the agent window closes.
  UniqueKernelHandle instanceMarker;
};

// A timer component of the window, created disabled. Enabling a running timer keeps its rhythm;
// disabling stops its ticks. A timer of a window that is gone does nothing.
class Timer {
 public:
  Timer(AgentPlatform& os, const WindowHandle& owner, TimerId id, std::uint32_t intervalMs);
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer() = default;

  void Enable();
  void Disable();
  [[nodiscard]] bool Enabled() const { return enabled_; }
  [[nodiscard]] std::uint32_t Interval() const { return intervalMs_; }
  [[nodiscard]] TimerId Id() const { return id_; }

 private:
  AgentPlatform& os_;
  const WindowHandle& owner_;
  TimerId id_;
  std::uint32_t intervalMs_;
  bool enabled_ = false;
};

// Finds a top-level window of class "TMainForm" by its whole caption; null when there is none.
WindowHandle FindAppWindow(AgentPlatform& os, std::string_view caption);

class TMainForm final : public AgentWindowEvents {
 public:
  // Creates the agent window, hidden, with the caption "Shell"; the start timer begins to count.
  TMainForm(AgentPlatform& os, AgentState& state);
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;
  TMainForm(TMainForm&&) = delete;
  TMainForm& operator=(TMainForm&&) = delete;
  ~TMainForm() override;

  // The window handle; null when the window could not be created.
  [[nodiscard]] WindowHandle Handle() const { return handle_; }

  // Hides the agent window; nothing happens when it is hidden already.
  void HideAgentWindow();
  // Ends the agent: runs FormClose now and makes the message loop end once control returns to it
  // (after the messages posted before). The calling handler runs on to its end; a second call does
  // no harm.
  void Close();
  // Close, with a trace line that says why the agent ends.
  void EndBecause(std::string_view reason);
  // Releases this agent's handle to the single-instance marker. Safe to run more than once.
  void FormClose();

  // The start sequence: single-instance arbitration, the start cases, the checks and the first
  // activation attempt.
  void Timer_StartTimer();
  // One attempt to bring the product window to the front.
  void Timer_OpenShellTimer();
  // The takeover of a first agent that did not bring the product window forward in time.
  void Timer_KillProcessesOnTimeoutAndStartAgainTimer();
  // The command message: quit, or open one of the maker's web pages.
  void OnAgentCommand(MessageWParam command, MessageLParam argument);

  // AgentWindowEvents
  void OnTimer(TimerId timer) override;
  bool OnWindowMessage(std::uint32_t message, MessageWParam wParam, MessageLParam lParam,
                       MessageResult& result) override;
  void OnCloseRequest() override;

 private:
  // Where bringing the product forward ends, shown or given up: the agent stays resident or ends.
  void EndActivation(bool shown);

  AgentPlatform& os_;
  AgentState& state_;
  WindowHandle handle_{};
  const WebPageTable webPages_;
  // Whether this agent runs elevated; such an agent never stays resident. Settled by each start pass.
  bool elevated_ = false;
  // The failed activation attempts of the current start pass.
  int activationAttempts_ = 0;

 public:
  // The window's timer components, in their declared order.
  Timer Timer_OpenShell;
  Timer Timer_Start;
  Timer Timer_KillProcessesOnTimeoutAndStartAgain;
};

}  // namespace velmor
