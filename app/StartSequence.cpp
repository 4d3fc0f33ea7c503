// The start sequence: the agent's main decision, made once at start and once more after a takeover.
#include <optional>
#include <string>

#include "app/AgentVersion.h"
#include "app/AgentWindow.h"
#include "app/AsciiCase.h"
#include "app/CommandLine.h"
#include "integration/AnsiText.h"
#include "integration/Autostart.h"
#include "integration/Environment.h"
#include "integration/ServiceRequest.h"
#include "peers/AgentContract.h"
#include "platform/Trace.h"

namespace velmor {

namespace {

std::string_view DescribeArgument(const std::optional<std::wstring>& arg) {
  if (!arg) {
    return "none";
  }
  if (*arg == L"firststart" || *arg == L"firstnotstartbutrestart") {
    return *arg == L"firststart" ? "firststart" : "firstnotstartbutrestart";
  }
  return "other";  // a logon start; its text stays out of the trace
}

}  // namespace

void AgentWindow::RunStartSequence() {
  Stop(startTimer_);  // one pass per start
  activationAttempts_ = 0;

  // Single-instance arbitration: the marker existing means that another agent created it.
  bool alreadyRunning = false;
  std::string_view marker = "kept";  // after a takeover: the handle of the first pass
  if (state_.createInstanceMarker) {
    state_.instanceMarker =
        UniqueKernelHandle(os_, os_.CreateFileMappingA(win32::kPageReadWrite, 0, 1, peers::kInstanceMarkerName));
    const Win32Status error = os_.GetLastError();
    if (!state_.instanceMarker) {
      // Access denied: the marker exists, made by an agent with other rights or by a program that
      // squats the name. Taken as held by another agent, so that the user's start still does its part.
      if (error != win32::kErrorAccessDenied) {
        TraceLine(os_, "start").Add("marker", "failed").Add("error", error).Add("version", AgentVersion());
        EndBecause("marker-failed");
        return;
      }
      alreadyRunning = true;
      marker = "denied";
    } else {
      alreadyRunning = error == win32::kErrorAlreadyExists;  // the handle is held all the same
      marker = alreadyRunning ? "existed" : "new";
    }
  }
  if (!alreadyRunning) {
    os_.SetWindowTextA(handle_, peers::kAgentWindowCaption);  // from now on other agents find this one
  }
  // Asked once the agent is findable: nothing before needs it, and it costs a few system calls.
  elevated_ = os_.IsCurrentProcessElevated();

  os_.SetCurrentDirectoryA(ExecutableFolder(os_));  // a failure is of no consequence

  bool activateProduct = true;
  const WindowHandle productWindow = FindProductWindow(os_);
  if (productWindow == kNoWindow) {
    state_.productRunning = false;
  }

  std::optional<std::wstring> firstArgument = FirstArgument(os_.GetCommandLineW());
  if (firstArgument) {
    firstArgument = LowerAscii(*firstArgument);
  }
  TraceLine(os_, "start")
      .Add("arg", DescribeArgument(firstArgument))
      .Add("marker", marker)
      .Add("product", productWindow == kNoWindow           ? "absent"
                      : os_.IsWindowVisible(productWindow) ? "visible"
                                                           : "hidden")
      .Add("elevated", elevated_)
      .Add("version", AgentVersion());

  if (firstArgument) {
    const std::wstring& arg = *firstArgument;
    AnsiString autostart;
    const Win32Status readStatus = ReadAutostartValue(os_, autostart);
    const bool isFirstStart = arg == L"firststart";
    const bool isRestartOnly = arg == L"firstnotstartbutrestart";

    if (isFirstStart || isRestartOnly) {
      // Install time: point the autostart value at this agent, keeping its argument tail.
      const AnsiString tail = readStatus == win32::kErrorSuccess ? GetAutostartTail(os_, autostart) : AnsiString();
      WriteAutostartValue(os_, tail);
      const bool productWasRunning = state_.productRunning;
      if (!state_.productRunning) {
        state_.productRunning = IsOtherVersionRunning(os_);
      }
      TraceLine(os_, "road")
          .Add("install-time", isRestartOnly ? "restart-only" : "first-start")
          .Add("value-read", readStatus)
          .Add("tail-kept", !tail.empty())
          .Add("product-running", productWasRunning)
          .Add("other-version", state_.productRunning && !productWasRunning);
      if (state_.productRunning) {
        activateProduct = false;
        // The prompt asks the loop to end whatever the answer. After Yes, with the reboot under way,
        // the pass stops here; after No it goes on to its end.
        if (ShowRestartPrompt(os_)) {
          return;
        }
      }
      if (isRestartOnly) {
        EndBecause("install-time-done");
        return;
      }
    } else {
      // Logon: stay resident without bringing the product forward, unless switched off.
      activateProduct = false;
      const bool switchedOff = readStatus == win32::kErrorSuccess && IsAutostartSwitchedOff(autostart);
      TraceLine(os_, "road").Add("logon", switchedOff ? "switched-off" : "stay").Add("value-read", readStatus);
      if (switchedOff) {
        EndBecause("switched-off");
        return;
      }
    }
  }

  if (alreadyRunning) {
    // A second agent only brings the product forward, and ends once it has. If the product window
    // is not there yet, the watchdog takes over from the first agent should that take too long;
    // an elevated agent never does, as it would not stay.
    const bool armWatchdog = !state_.productRunning && !elevated_;
    if (armWatchdog) {
      Start(watchdogTimer_);
    }
    TraceLine(os_, "road").Add("second-agent", "bring-product-forward").Add("watchdog", armWatchdog);
    state_.productRunning = true;
    activateProduct = true;
  }

  if (!state_.productRunning) {
    const bool supported = IsOsSupported(os_);
    TraceLine(os_, "version-gate").Add("passed", supported);
    if (!supported) {
      os_.ShowMessageDialog(DialogKind::Information, kOsNotSupportedText, false);
      EndBecause("os-not-supported");
      return;
    }
    if (!KickService(os_)) {  // it has shown its own dialog
      EndBecause("service-request-failed");
      return;
    }
    if (!activateProduct) {
      HideAgentWindow();
    }
  }

  if (activateProduct) {
    TryActivateProduct();
  } else if (elevated_) {
    // Its start work is done. Commands from the product, at the user's rights, could not reach an
    // elevated agent: residence is left to the next start at the user's rights.
    EndBecause("elevated");
  }
}

}  // namespace velmor
