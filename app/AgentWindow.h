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

// The product's main window, found by its class and caption; null when it is not there.
WindowHandle FindProductWindow(AgentPlatform& os);

class AgentWindow final : public AgentWindowEvents {
 public:
  // The timers' intervals: the start sequence runs once the message loop does; activation is tried
  // once a second; the takeover watchdog gives a first agent 30 seconds.
  static constexpr std::uint32_t kStartDelayMs = 1;
  static constexpr std::uint32_t kActivationIntervalMs = 1000;
  static constexpr std::uint32_t kWatchdogIntervalMs = 30000;

  // Creates the agent window, hidden, with the caption "Shell"; the start timer begins to count.
  AgentWindow(AgentPlatform& os, AgentState& state);
  AgentWindow(const AgentWindow&) = delete;
  AgentWindow& operator=(const AgentWindow&) = delete;
  AgentWindow(AgentWindow&&) = delete;
  AgentWindow& operator=(AgentWindow&&) = delete;
  ~AgentWindow() override;

  // The window handle; null when the window could not be created.
  [[nodiscard]] WindowHandle Handle() const { return handle_; }

  // Ends the agent: releases the instance marker now, stops the timers and makes the message loop
  // end once control returns to it (after the messages posted before). The calling handler runs on
  // to its end; a second call does no harm.
  void Close();
  // Close, with a trace line that says why the agent ends.
  void EndBecause(std::string_view reason);
  // Releases this agent's handle to the single-instance marker. Safe to run more than once.
  void ReleaseInstanceMarker();

 private:
  // One of the window's timers, stopped until started. Starting a running timer keeps its rhythm.
  struct Timer {
    AgentTimer id{};
    std::uint32_t intervalMs = 0;
    bool running = false;
  };

  // AgentWindowEvents: each message the window serves, handled here and nowhere else.
  void OnStartTick() override;
  void OnActivationTick() override;
  void OnWatchdogTick() override;
  void OnAgentCommand(MessageWParam command, MessageLParam argument) override;
  void OnCloseRequest() override;
  void OnWindowGone() override;

  // The start sequence: single-instance arbitration, the start cases, the checks and the first
  // activation attempt (StartSequence.cpp).
  void RunStartSequence();
  // One attempt to bring the product window to the front (Activation.cpp).
  void TryActivateProduct();
  // Where bringing the product forward ends, shown or given up: the agent stays resident or ends.
  void EndActivation(bool shown);
  // Makes a first agent that did not bring the product window forward in time quit, and runs the
  // start sequence again in its place (AgentCommand.cpp).
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
  // Whether this agent runs elevated; such an agent never stays resident. Settled by each start pass.
  bool elevated_ = false;
  // The failed activation attempts of the current start pass.
  int activationAttempts_ = 0;

  Timer startTimer_{AgentTimer::Start, kStartDelayMs};
  Timer activationTimer_{AgentTimer::Activation, kActivationIntervalMs};
  Timer watchdogTimer_{AgentTimer::Watchdog, kWatchdogIntervalMs};
};

}  // namespace velmor
