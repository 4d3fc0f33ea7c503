// The start sequence: the agent's main decision, made once at start and once more after a takeover.
#include <optional>
#include <string>

#include "app/AgentWindow.h"
#include "app/AsciiCase.h"
#include "app/CommandLine.h"
#include "integration/AnsiText.h"
#include "integration/Autostart.h"
#include "integration/Environment.h"
#include "integration/ServiceRequest.h"
#include "peers/AgentContract.h"

namespace velmor {

void AgentWindow::RunStartSequence() {
  Stop(startTimer_);  // one pass per start

  elevated_ = os_.IsCurrentProcessElevated();
  activationAttempts_ = 0;

  // Single-instance arbitration: the marker existing means that another agent created it.
  bool alreadyRunning = false;
  if (state_.createInstanceMarker) {
    state_.instanceMarker =
        UniqueKernelHandle(os_, os_.CreateFileMappingA(win32::kPageReadWrite, 0, 1, peers::kInstanceMarkerName));
    if (!state_.instanceMarker) {
      // Access denied: the marker exists, made by an agent with other rights or by a program that
      // squats the name. Taken as held by another agent, so that the user's start still does its part.
      if (os_.GetLastError() != win32::kErrorAccessDenied) {
        Close();
        return;
      }
      alreadyRunning = true;
    } else if (os_.GetLastError() == win32::kErrorAlreadyExists) {
      alreadyRunning = true;  // the handle is held all the same
    }
  }
  if (!alreadyRunning) {
    os_.SetWindowTextA(handle_, peers::kAgentWindowCaption);  // from now on other agents find this one
  }

  os_.SetCurrentDirectoryA(ExecutableFolder(os_));  // a failure is of no consequence

  bool activateProduct = true;
  if (FindProductWindow(os_) == kNoWindow) {
    state_.productRunning = false;
  }

  if (const std::optional<std::wstring> firstArgument = FirstArgument(os_.GetCommandLineW())) {
    const std::wstring arg = LowerAscii(*firstArgument);
    AnsiString autostart;
    const Win32Status readStatus = ReadAutostartValue(os_, autostart);
    const bool isFirstStart = arg == L"firststart";
    const bool isRestartOnly = arg == L"firstnotstartbutrestart";

    if (isFirstStart || isRestartOnly) {
      // Install time: point the autostart value at this agent, keeping its argument tail.
      const AnsiString tail = readStatus == win32::kErrorSuccess ? GetAutostartTail(os_, autostart) : AnsiString();
      WriteAutostartValue(os_, tail);
      if (!state_.productRunning) {
        state_.productRunning = IsOtherVersionRunning(os_);
      }
      if (state_.productRunning) {
        activateProduct = false;
        // The prompt asks the loop to end whatever the answer. After Yes, with the reboot under way,
        // the pass stops here; after No it goes on to its end.
        if (ShowRestartPrompt(os_)) {
          return;
        }
      }
      if (isRestartOnly) {
        Close();
        return;
      }
    } else {
      // Logon: stay resident without bringing the product forward, unless switched off.
      activateProduct = false;
      if (readStatus == win32::kErrorSuccess && IsAutostartSwitchedOff(autostart)) {
        Close();
        return;
      }
    }
  }

  if (alreadyRunning) {
    // A second agent only brings the product forward, and ends once it has. If the product window
    // is not there yet, the watchdog takes over from the first agent should that take too long;
    // an elevated agent never does, as it would not stay.
    if (!state_.productRunning && !elevated_) {
      Start(watchdogTimer_);
    }
    state_.productRunning = true;
    activateProduct = true;
  }

  if (!state_.productRunning) {
    if (!IsOsSupported(os_)) {
      os_.ShowMessageDialog(DialogKind::Information, kOsNotSupportedText, false);
      Close();
      return;
    }
    if (!KickService(os_)) {  // it has shown its own dialog
      Close();
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
    Close();
  }
}

}  // namespace velmor
