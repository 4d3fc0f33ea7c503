// Every time the agent keeps, each with its reason, in one place. Other agents, the product's
// installer and velmorctl depend on several of them (the watchdog above all); what is derived from
// them is computed here, so that changing one carries through.
#pragma once

#include <cstdint>

namespace velmor::times {

// The start sequence runs as soon as the message loop does, from the window's first timer tick.
inline constexpr std::uint32_t kStartDelayMs = 1;

// Bringing the product forward is tried once a second until its window shows.
inline constexpr std::uint32_t kActivationIntervalMs = 1000;
// Time given to a hidden product window to show itself after the tray click.
inline constexpr std::uint32_t kShowWindowGraceMs = 500;
// Bringing a window forward waits on its thread. A product that does not answer within this counts
// as not shown, so that a hung product never holds up the agent.
inline constexpr std::uint32_t kProductAnswerTimeoutMs = 200;
// A product may answer that probe and hang right after it, in the switch itself: the switch is waited
// for this long, no longer.
inline constexpr std::uint32_t kSwitchTimeoutMs = 1000;

// The takeover watchdog: how long a second agent gives the first agent to bring the product window
// forward before it takes the first agent's place.
inline constexpr std::uint32_t kWatchdogIntervalMs = 30000;
// An agent that ends anyway stops waiting for a window after as many attempts as the watchdog gives a
// first agent, so that it does not pile up with the next start's.
inline constexpr int kStandardAttemptLimit = static_cast<int>(kWatchdogIntervalMs / kActivationIntervalMs);

// A healthy agent handles the quit command within milliseconds. The one stretch in which a healthy
// agent pumps no messages for longer is its service request, in the rare case that it took over
// itself shortly before; it would quit right after it anyway, so ending it then changes only the
// moment. This long without an answer therefore counts as hung.
inline constexpr std::uint32_t kQuitAnswerTimeoutMs = 5000;
// How long to wait for a hung agent's process to go after it was ended.
inline constexpr std::uint32_t kHungAgentExitWaitMs = 5000;
// How long a successor waits for the residence lock once the agents it waited on have quit: they gave
// it back as they quit, so the wait only settles which of several successors gets it.
inline constexpr std::uint32_t kResidenceWaitMs = 1000;

// A service that is not ready yet is asked again this often, this far apart: about 20 seconds.
inline constexpr int kServiceControlRetries = 200;
inline constexpr std::uint32_t kServiceControlRetryPauseMs = 100;

}  // namespace velmor::times
