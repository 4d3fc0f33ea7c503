// What velmorctl doctor finds on a desktop, gathered by DoctorGather.cpp and judged by
// DoctorJudges.cpp: plain values, with no handle and no system call, so that the judges can be tried
// on any desktop written down as these facts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AgentPlatform.h"

namespace velmor::ctl {

// A registry value as it was read: its status (0, or why it could not be read), type and, for a
// string, its text; for binary data, its bytes.
struct RegistryValueFacts {
  Win32Status status = win32::kErrorFileNotFound;
  std::uint32_t type = 0;
  std::uint32_t size = 0;  // bytes, as the registry reports them
  std::wstring text;
  std::vector<std::uint8_t> bytes;
};

// A process that velmorctl looked at.
struct ProcessFacts {
  std::uint32_t processId = 0;
  std::wstring image;         // its executable's full path; empty when it cannot be read
  Win32Status openError = 0;  // why it could not be opened to read it, 0 when it could
  std::wstring fileVersion;   // the image's FileVersion; empty without one
  // How long ago it started; nothing when that cannot be read.
  std::optional<std::uint64_t> ageMs;
  // Whether it runs elevated as the agent judges its own reach (the elevated half of a split token, or
  // LocalSystem's integrity); nothing when its token cannot be read.
  std::optional<bool> elevated;
};

// Whether a mutex is owned, read without taking it; Unknown when the system does not say.
enum class LockState { Free, Held, Unknown };

// The switch that Task Manager and Settings keep for a Run entry of the 32-bit view, in one hive.
struct StartupSwitchFacts {
  std::wstring hive;  // "HKCU" or "HKLM"
  RegistryValueFacts value;
};

// A compatibility layer set on an agent's path (AppCompatFlags\Layers), in one hive.
struct CompatibilityLayerFacts {
  std::wstring hive;  // "HKCU" or "HKLM"
  std::wstring path;  // the value's name: the executable it applies to
  std::wstring layers;
};

struct ServiceFacts {
  Win32Status managerError = 0;            // opening the service manager
  Win32Status openError = 0;               // opening the service to read its state and start type
  Win32Status requestError = 0;            // opening it with the agent's own access, for its request
  Win32Status queryError = 0;              // reading its state
  std::uint32_t state = 0;                 // SERVICE_STOPPED (1) ... SERVICE_PAUSED (7); 0 when not read
  std::optional<std::uint32_t> startType;  // SERVICE_AUTO_START (2), DEMAND (3), DISABLED (4)
  // The service manager's wait for a service's handler (ServicesPipeTimeout); nothing when not set,
  // and then its default: Windows' 30 s, or Wine's 10 s where velmorctl runs under Wine.
  std::optional<std::uint32_t> pipeTimeoutMs;
  bool underWine = false;
};

struct ProductWindowFacts {
  bool present = false;
  bool visible = false;
  bool answers = true;  // answered as the agent asks it (app/ProductWindow.h)
  ProcessFacts process;
};

struct DoctorFacts {
  // Where velmorctl runs and with what rights.
  bool interactive = true;
  bool velmorctlElevated = false;
  // The folder of the installed agent, with its trailing backslash: the one the package remembers
  // (InstallFolder), else velmorctl's own when velmor.exe lies beside it; empty when neither holds it.
  std::wstring agentFolder;

  // The autostart value, as the agent reads it, and what Windows runs of it.
  RegistryValueFacts autostart;
  bool autostartIn64BitView = false;     // a value of that name in the view the agent never reads
  std::wstring commandLine;              // the value's text, expanded for REG_EXPAND_SZ
  Win32Status autostartTargetError = 0;  // the program the value starts: 0 when it exists
  std::vector<StartupSwitchFacts> startupSwitches;

  // The agents and the windows bearing the agent's name.
  std::vector<ProcessFacts> agents;  // resident (named) agents, from the top of the z-order
  bool firstAgentAnswers = false;
  std::vector<ProcessFacts> nameBearers;                // other programs' windows bearing the agent's name
  std::vector<ProcessFacts> waitingAgents;              // second agents, not named yet
  Win32Status markerError = win32::kErrorFileNotFound;  // opening the single-instance marker
  Win32Status lockError = win32::kErrorFileNotFound;    // opening the residence lock
  LockState lockState = LockState::Unknown;

  ServiceFacts service;
  ProductWindowFacts productWindow;
  bool otherVersionRunning = false;

  // The version Windows reports to velmorctl, and the layers that change what it reports to the agent.
  std::optional<std::uint32_t> windowsMajor;
  std::uint32_t windowsMinor = 0;
  std::uint32_t windowsBuild = 0;
  std::vector<CompatibilityLayerFacts> compatibilityLayers;
};

}  // namespace velmor::ctl
