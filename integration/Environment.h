// What the start sequence checks before it goes on: whether the user's desktop can reach the agent, the
// operating-system version, another running product version, and the reboot that it offers when one runs.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor {

// Whether the user's desktop could reach this agent; one it could not never stays resident.
enum class Reach {
  Reachable,
  Elevated,        // the elevated half of a split token, or LocalSystem: the product's messages cannot reach it
  NonInteractive,  // a window station nobody sees (session 0): it sees no window of the user's desktop
};
Reach ReachOf(AgentPlatform& os);

// True when the system's version, compared as major, then minor, then service pack, is at least this.
bool IsVersionAtLeast(AgentPlatform& os, std::uint32_t major, std::uint32_t minor, std::uint16_t servicePackMajor);

// The oldest Windows the agent goes on with: 6.3, Windows 8.1 (service pack 0).
inline constexpr std::uint32_t kOldestSupportedMajor = 6;
inline constexpr std::uint32_t kOldestSupportedMinor = 3;

// The version gate: kOldestSupportedMajor.kOldestSupportedMinor or later. The manifest's supportedOS
// entries make the system report its true version to this test.
bool IsOsSupported(AgentPlatform& os);

// True when a marker mapping of another product version exists, openable or not. The mapping is
// never mapped.
bool IsOtherVersionRunning(AgentPlatform& os);

// Asks, in a topmost confirmation dialog, whether to reboot now, and reboots on Yes (saying so in an
// error dialog when that fails). Returns true when the answer was Yes; the caller ends the agent
// whatever the answer. Where nobody could answer (integration/Dialog.h) it shows nothing and returns
// as after No.
bool ShowRestartPrompt(AgentPlatform& os);

// Enables the shutdown privilege and asks for a reboot. False when the privilege could not be
// enabled or the request failed; GetLastError then tells why.
bool RebootComputer(AgentPlatform& os);

}  // namespace velmor
