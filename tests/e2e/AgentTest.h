// The base of every end-to-end case: a clean desktop before and after each case (no agent running,
// no marker, no service stand-in, no autostart value), log files in a folder of the case's own, and
// a watch that fails the case if an agent window ever becomes visible.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "peers/AgentContract.h"
#include "tests/e2e/LogFile.h"
#include "tests/e2e/Poll.h"
#include "tests/e2e/Processes.h"
#include "tests/e2e/Registry.h"
#include "tests/e2e/ServiceStandin.h"
#include "tests/e2e/Windows.h"

namespace velmor::e2e {

// What one program start costs on this host beyond a native start: VELMOR_E2E_START_SECONDS, which
// scripts/test sets from a start it timed where the programs run under an emulator (a minute or
// more each). Every bound that includes a program's start grows by it; zero when unset.
inline std::chrono::milliseconds StartCost() {
  char text[16] = {};
  const DWORD length = ::GetEnvironmentVariableA("VELMOR_E2E_START_SECONDS", text, sizeof text);
  const unsigned long seconds = length > 0 && length < sizeof text ? std::strtoul(text, nullptr, 10) : 0;
  return std::chrono::seconds(std::min(seconds, 3600UL));
}

// Bounds for things that take a moment under Wine (a first process start can take seconds).
inline const std::chrono::milliseconds kStartBound = 20s + StartCost();
inline const std::chrono::milliseconds kExitBound = 20s + StartCost();

// Posts the quit command to `window` and waits, within kExitBound, for `agent` to end: its exit code.
inline std::optional<DWORD> QuitByCommand(HWND window, const ChildProcess& agent) {
  PostCommand(window, peers::QuitCommand());
  return agent.WaitForExit(kExitBound);
}

// Waits for the agent's dialog of one OK button, checks its caption and text (line breaks as line
// feeds), answers OK and expects the agent to end with 0.
void ExpectOkDialogThenExit(const ChildProcess& agent, const std::wstring& caption, const std::wstring& text);

// Ends the running case as skipped, with `reason`, from however deep inside it: the skip is recorded,
// and the exception that GoogleTest takes for a result reported already unwinds the case to its
// TearDown.
[[noreturn]] void SkipCase(const std::string& reason);

class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static std::string AgentPath() { return ShippedFolder() + "velmor.exe"; }
  static std::string ProductWindowPath() { return ExecutableFolder() + "tessaly_window.exe"; }

  // Skips the case where no program can be started with the user's own rights (an account without a
  // split UAC token, a session without a desktop shell); StartAgent asks this of every start with them.
  static void RequireUserRights();
  // Starts velmor.exe with these arguments and the user's rights, as the user or a logon does; its
  // windows are watched for visibility.
  ChildProcess& StartAgent(const std::string& arguments, Rights rights = Rights::User);
  // Starts velmor.exe as an installer does, with this process's rights (elevated, when the suite
  // runs so).
  ChildProcess& StartAgentAsInstaller(const std::string& arguments) { return StartAgent(arguments, Rights::Inherited); }
  // Starts the product window stand-in, logging to ProductLog().
  ChildProcess& StartProductWindow(const std::string& options);
  // Installs the service stand-in, logging to ServiceLog(), with further options.
  void InstallService(const std::string& options = "");
  // The stand-in's options that make it launch the product window stand-in on the control code.
  std::string LaunchProductWindowOption(const std::string& showAfter) const;

  // A folder of the case's own, removed after it, with its trailing backslash.
  const std::string& CaseFolder() const { return folder_; }
  const std::string& ProductLog() const { return productLog_; }
  const std::string& ServiceLog() const { return serviceLog_; }
  const std::string& UrlLog() const { return urlLog_; }

  static std::vector<std::string> LogLines(const std::string& path);
  // The lines of a log that start with `prefix`.
  static std::vector<std::string> LinesStartingWith(const std::string& path, const std::string& prefix);
  static std::size_t CountLines(const std::string& path, const std::string& prefix) {
    return CountLogLines(path, prefix);
  }

  static HWND WaitForNamedAgent(const ChildProcess& agent, std::chrono::milliseconds bound = kStartBound) {
    return e2e::WaitForNamedAgent(agent.Id(), bound);
  }
  // Waits until `agent` has made its window (named or not); returns it, or null.
  static HWND WaitForAgentWindow(const ChildProcess& agent) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
          const auto windows = TopLevelWindowsOf(agent.Id(), std::string(peers::kAgentWindowClass));
          found = windows.empty() ? nullptr : windows.front();
          return found != nullptr;
        },
        kStartBound);
    return found;
  }
  // The product window stand-in, found by its class and caption (null when absent).
  static HWND ProductWindow();
  static bool AgentMarkerExists();

  VisibilityWatch& Watch() { return *watch_; }

 private:
  void CleanDesktop();

  std::string folder_;
  std::string productLog_;
  std::string serviceLog_;
  std::string urlLog_;
  std::optional<RegistryValue> savedAutostart_;
  std::optional<std::string> savedHttpsHandler_;
  std::deque<ChildProcess> processes_;
  std::unique_ptr<VisibilityWatch> watch_;
};

// Holds a named file mapping for as long as it lives, as a running program would.
class HeldMapping {
 public:
  explicit HeldMapping(const std::string& name);
  explicit operator bool() const { return static_cast<bool>(mapping_); }

 private:
  UniqueWin32Handle mapping_;
};

}  // namespace velmor::e2e
