// The start sequence: the agent's main decision, made once at start and once more after a takeover.
// It claims the marker, then takes the install-time or logon road its argument asks for, and ends on
// the second agent's road or the first agent's.
#include <optional>
#include <string>

#include "app/AgentVersion.h"
#include "app/AgentWindow.h"
#include "app/ProductWindow.h"
#include "integration/Autostart.h"
#include "integration/Dialog.h"
#include "integration/Environment.h"
#include "integration/ExecutableFolder.h"
#include "integration/ServiceRequest.h"
#include "peers/AgentContract.h"
#include "peers/AgentTexts.h"
#include "platform/Trace.h"

namespace velmor {

namespace {

TraceWord DescribeArgument(StartArgument argument) {
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

TraceWord DescribeMarkerClaim(MarkerClaim claim) {
  switch (claim) {
    case MarkerClaim::Made:
      return "new";
    case MarkerClaim::MadeLockHeldByNoAgent:
      return "new-lock-held-by-no-agent";
    case MarkerClaim::ResidentElsewhere:
      return "new-resident-elsewhere";
    case MarkerClaim::Existed:
      return "existed";
    case MarkerClaim::Denied:
      return "denied";
    case MarkerClaim::OtherObject:
      return "other-object";
    case MarkerClaim::Failed:
      break;
  }
  return "failed";
}

AgentRole RoleFor(MarkerClaim claim) {
  return claim == MarkerClaim::Made || claim == MarkerClaim::MadeLockHeldByNoAgent ? AgentRole::First
                                                                                   : AgentRole::Second;
}

TraceWord DescribeProduct(AgentPlatform& os, WindowHandle window) {
  if (window == kNoWindow) {
    return "absent";
  }
  return os.IsWindowVisible(window) ? TraceWord("visible") : TraceWord("hidden");
}

}  // namespace

void AgentWindow::RunStartSequence() {
  Stop(startTimer_);  // one pass per start
  reach_ = ReachOf(os_);
  // Where nobody sees the desktop, no product window can be found: one attempt, then the agent ends.
  SetActivationBudget(reach_ == Reach::NonInteractive ? ActivationBudget::OneAttempt : ActivationBudget::Standard);
  state_.otherVersionRunning = false;

  TraceWord marker = "kept";  // a successor keeps the handle of its first pass
  if (state_.role != AgentRole::Successor) {
    const MarkerClaim claim = ClaimInstanceMarker(os_, state_.instanceMarker, residence_, !Unreachable());
    if (claim == MarkerClaim::Failed) {
      EndBecause("marker-failed");
      return;
    }
    state_.role = RoleFor(claim);
    marker = DescribeMarkerClaim(claim);
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
      .Add("elevated", reach_ == Reach::Elevated)
      .Add("interactive", reach_ != Reach::NonInteractive)
      .AddText("version", AgentVersion());

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

bool AgentWindow::RunInstallTimeRoad() {
  const bool restartOnly = argument_ == StartArgument::RestartOnly;
  // Point the autostart value at this agent, keeping its argument tail. Only a value that was read, or
  // that is not there, or that holds no text, is rewritten: one that could not be read (too long, or
  // its read refused) is left as it is, as its tail could not be kept.
  std::wstring autostart;
  const Win32Status readStatus = ReadAutostartValue(os_, autostart);
  const std::wstring tail = readStatus == win32::kErrorSuccess ? GetAutostartTail(autostart) : std::wstring();
  const bool rewrite = readStatus == win32::kErrorSuccess || readStatus == win32::kErrorFileNotFound ||
                       readStatus == win32::kErrorInvalidData;
  if (rewrite) {
    WriteAutostartValue(os_, tail);
  }
  if (!state_.productUp) {
    state_.otherVersionRunning = IsOtherVersionRunning(os_);
  }
  TraceLine(os_, "road")
      .Add("install-time", restartOnly ? TraceWord("restart-only") : TraceWord("first-start"))
      .Add("value-read", readStatus)
      .Add("tail-kept", !tail.empty())
      .Add("rewritten", rewrite)
      .Add("product-running", state_.productUp)
      .Add("other-version", state_.otherVersionRunning);

  if (state_.productUp || state_.otherVersionRunning) {
    // The files of a running product cannot all be replaced: the prompt offers the restart, and the
    // agent ends whatever the answer. After No, a second agent makes its one attempt to bring the
    // product forward first.
    const bool rebootAsked = ShowRestartPrompt(os_);
    if (endedForGood_) {
      return false;  // the session ended while the prompt was open (the quit command is its No)
    }
    if (rebootAsked || state_.role != AgentRole::Second) {
      EndBecause("restart-prompt");
      return false;
    }
    SetActivationBudget(ActivationBudget::OneAttempt);
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
  TraceLine(os_, "road")
      .Add("logon", switchedOff ? TraceWord("switched-off") : TraceWord("stay"))
      .Add("value-read", readStatus);
  if (switchedOff) {
    EndBecause("switched-off");
    return false;
  }
  return true;
}

void AgentWindow::RunSecondAgentRoad() {
  // If the product window is not there yet, the watchdog takes over from the first agent should that
  // take too long; an agent that could not stay resident never does.
  const bool armWatchdog = !state_.productUp && !state_.otherVersionRunning && !Unreachable();
  if (armWatchdog) {
    agentsSeenWhileWaiting_ = FindAgentWindows(os_).agents;
    Start(watchdogTimer_);
    if (endedForGood_) {
      return;  // refused: the agent has ended
    }
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
      ShowAgentDialog(os_, DialogKind::Information, texts::kOsNotSupported);
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
    // Only an agent that the user's desktop could not reach gets here. Its start work is done:
    // residence is left to the next start at the user's rights on the user's desktop.
    EndBecause(UnreachableReason());
  }
}

TraceWord AgentWindow::UnreachableReason() const {
  return reach_ == Reach::NonInteractive ? TraceWord("non-interactive") : TraceWord("elevated");
}

bool AgentWindow::StaysResident() const {
  if (Unreachable()) {
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
