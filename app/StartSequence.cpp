// The start sequence: the agent's main decision, made once at start and once more after a takeover.
// It claims the marker, then takes the install-time or logon road its argument asks for, and ends on
// the second agent's road or the first agent's.
#include <string>

#include "app/AgentVersion.h"
#include "app/AgentWindow.h"
#include "integration/AnsiText.h"
#include "integration/Autostart.h"
#include "integration/Dialog.h"
#include "integration/Environment.h"
#include "integration/ServiceRequest.h"
#include "peers/AgentContract.h"
#include "platform/Trace.h"

namespace velmor {

namespace {

// Each activation attempt holds the agent for half a second: after about 30 seconds, as long as the
// takeover watchdog gives a first agent, an agent that would end anyway stops waiting for a window.
constexpr int kActivationAttemptLimit = 30;

std::string_view DescribeArgument(StartArgument argument) {
  switch (argument) {
    case StartArgument::None:
      return "none";
    case StartArgument::FirstStart:
      return peers::kFirstStartKeyword;
    case StartArgument::RestartOnly:
      return peers::kRestartOnlyKeyword;
    case StartArgument::Other:
      break;
  }
  return "other";  // a logon start; its text stays out of the trace
}

std::string_view DescribeProduct(AgentPlatform& os, WindowHandle window) {
  return window == kNoWindow ? "absent" : os.IsWindowVisible(window) ? "visible" : "hidden";
}

}  // namespace

void AgentWindow::RunStartSequence() {
  Stop(startTimer_);  // one pass per start
  activationAttempts_ = 0;
  activationAttemptLimit_ = kActivationAttemptLimit;
  elevated_ = os_.IsCurrentProcessElevated();

  std::string_view marker = "kept";  // a successor keeps the handle of its first pass
  if (state_.role != AgentRole::Successor && !ClaimInstanceMarker(marker)) {
    return;
  }
  if (state_.role != AgentRole::Second) {
    os_.SetWindowTextA(handle_, peers::kAgentWindowCaption);  // from now on other agents find this one
  }
  os_.SetCurrentDirectoryW(ExecutableFolder(os_));  // a failure is of no consequence

  const WindowHandle productWindow = FindProductWindow(os_);
  state_.productUp = productWindow != kNoWindow;
  argument_ = ClassifyStartArgument(os_.GetCommandLineW());
  TraceLine(os_, "start")
      .Add("arg", DescribeArgument(argument_))
      .Add("marker", marker)
      .Add("product", DescribeProduct(os_, productWindow))
      .Add("elevated", elevated_)
      .Add("version", AgentVersion());

  switch (argument_) {
    case StartArgument::FirstStart:
    case StartArgument::RestartOnly:
      if (!RunInstallTimeRoad()) {
        return;
      }
      break;
    case StartArgument::Other:
      if (!RunLogonRoad()) {
        return;
      }
      break;
    case StartArgument::None:
      break;
  }

  RegisterForRestartIfResident();
  if (state_.role == AgentRole::Second) {
    RunSecondAgentRoad();
  } else {
    RunFirstAgentRoad();
  }
}

bool AgentWindow::ClaimInstanceMarker(std::string_view& outcome) {
  state_.instanceMarker = CreateInstanceMarker(os_);
  const Win32Status error = os_.GetLastError();
  if (!state_.instanceMarker) {
    // Access denied: the marker exists, made by an agent with other rights or by a program that
    // squats the name; an invalid handle: an object of another kind bears its name. Either is taken
    // as held by another agent, so that the user's start still does its part.
    if (error != win32::kErrorAccessDenied && error != win32::kErrorInvalidHandle) {
      TraceLine(os_, "start").Add("marker", "failed").Add("error", error).Add("version", AgentVersion());
      EndBecause("marker-failed");
      return false;
    }
    state_.role = AgentRole::Second;
    outcome = error == win32::kErrorAccessDenied ? "denied" : "other-object";
    return true;
  }
  if (error == win32::kErrorAlreadyExists) {  // the handle is held all the same
    state_.role = AgentRole::Second;
    outcome = "existed";
    return true;
  }
  // A fresh marker while the residence lock is owned: an agent took over when the marker's name was
  // taken, and is resident without one. This agent is a second agent to it. An elevated agent never
  // stays resident, so it leaves the lock to the agents that may.
  if (!elevated_ && !residence_.Take(0)) {
    state_.role = AgentRole::Second;
    outcome = "new-resident-elsewhere";
    return true;
  }
  state_.role = AgentRole::First;
  outcome = "new";
  return true;
}

bool AgentWindow::RunInstallTimeRoad() {
  const bool restartOnly = argument_ == StartArgument::RestartOnly;
  // Point the autostart value at this agent, keeping its argument tail. A value too long to be read
  // whole is left as it is, as its tail could not be kept.
  std::wstring autostart;
  const Win32Status readStatus = ReadAutostartValue(os_, autostart);
  const std::wstring tail = readStatus == win32::kErrorSuccess ? GetAutostartTail(autostart) : std::wstring();
  const bool rewrite = readStatus != win32::kErrorMoreData;
  if (rewrite) {
    WriteAutostartValue(os_, tail);
  }
  const bool productWindowUp = state_.productUp;
  if (!state_.productUp) {
    state_.productUp = IsOtherVersionRunning(os_);
  }
  TraceLine(os_, "road")
      .Add("install-time", restartOnly ? "restart-only" : "first-start")
      .Add("value-read", readStatus)
      .Add("tail-kept", !tail.empty())
      .Add("rewritten", rewrite)
      .Add("product-running", productWindowUp)
      .Add("other-version", state_.productUp && !productWindowUp);

  if (state_.productUp) {
    // The files of a running product cannot all be replaced: the prompt offers the restart, and the
    // agent ends whatever the answer. After No, a second agent makes its one attempt to bring the
    // product forward first.
    const bool rebootAsked = ShowRestartPrompt(os_);
    if (rebootAsked || state_.role != AgentRole::Second) {
      EndBecause("restart-prompt");
      return false;
    }
    activationAttemptLimit_ = 1;
  }
  if (restartOnly) {
    EndBecause("install-time-done");
    return false;
  }
  return true;
}

bool AgentWindow::RunLogonRoad() {
  // Stay resident without bringing the product forward, unless switched off. A value that cannot be
  // read counts as no value: the agent goes on as at logon.
  std::wstring autostart;
  const Win32Status readStatus = ReadAutostartValue(os_, autostart);
  const bool switchedOff = readStatus == win32::kErrorSuccess && IsAutostartSwitchedOff(autostart);
  TraceLine(os_, "road").Add("logon", switchedOff ? "switched-off" : "stay").Add("value-read", readStatus);
  if (switchedOff) {
    EndBecause("switched-off");
    return false;
  }
  return true;
}

void AgentWindow::RunSecondAgentRoad() {
  // If the product window is not there yet, the watchdog takes over from the first agent should that
  // take too long; an elevated agent never does, as it would not stay.
  const bool armWatchdog = !state_.productUp && !elevated_;
  if (armWatchdog) {
    agentsSeenAtStart_ = FindAgentWindows(os_);
    Start(watchdogTimer_);
  }
  TraceLine(os_, "road").Add("second-agent", "bring-product-forward").Add("watchdog", armWatchdog);
  TryActivateProduct();
}

void AgentWindow::RunFirstAgentRoad() {
  const bool bringProductForward = argument_ != StartArgument::Other;  // a logon start leaves it be
  if (!state_.productUp) {
    const bool supported = IsOsSupported(os_);
    TraceLine(os_, "version-gate").Add("passed", supported);
    if (!supported) {
      ShowAgentDialog(os_, DialogKind::Information, kOsNotSupportedText);
      EndBecause("os-not-supported");
      return;
    }
    if (!KickService(os_)) {  // it has shown its own dialog
      EndBecause("service-request-failed");
      return;
    }
    if (!bringProductForward) {
      HideAgentWindow();
    }
  }
  if (bringProductForward) {
    TryActivateProduct();
  } else if (!StaysResident()) {
    // Only an elevated agent gets here. Its start work is done; commands from the product, at the
    // user's rights, could not reach it: residence is left to the next start at the user's rights.
    EndBecause("elevated");
  }
}

bool AgentWindow::StaysResident() const {
  if (elevated_) {
    return false;  // the product's commands and the user's later starts could not reach it
  }
  switch (state_.role) {
    case AgentRole::Second:
      return false;
    case AgentRole::Successor:
      return true;
    case AgentRole::First:
      break;
  }
  // A logon start stays; a start by the user stays when it had to bring the product up.
  return argument_ == StartArgument::Other || !state_.productUp;
}

}  // namespace velmor
