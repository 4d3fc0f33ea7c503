// Shared pieces of the agent scenario tests: the names the agent is known by, a fixture with one
// simulated desktop, and helpers that read the visible outcome off it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AgentWindow.h"
#include "peers/AgentContract.h"
#include "peers/AgentTimes.h"
#include "peers/ProductPeers.h"
#include "tests/host/sim/SimDesktop.h"
#include "tests/shared/TraceLines.h"

namespace velmor::test {

using sim::HandleKind;
using sim::Ms;
using sim::ProductStart;
using sim::SimDesktop;
using sim::SimProcess;
using sim::SimProduct;

inline constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kAutostartValue[] = "Tessaly";
inline constexpr char kAgentPath[] = "C:\\P\\velmor.exe";
inline constexpr char kAgentFolder[] = "C:\\P\\";
inline constexpr char kAgentCaption[] = "velmor8476035";
inline constexpr char kMarker[] = "ls9wk23mkjsuui345j";
inline constexpr char kOtherVersionMarkerA[] = "h723lsw932";
inline constexpr char kOtherVersionMarkerB[] = "j4nj8d783js6";

inline constexpr wchar_t kOsGateText[] =
    L"Your operating system is not supported by the current version of Tessaly. Minimum requirement: Windows 10 / "
    L"11 or later.";
inline constexpr wchar_t kRestartPromptText[] =
    L"Another product version is already running. If you just installed this version, please restart the "
    L"computer.\n\nDo you want to restart the computer now?";
inline constexpr wchar_t kServiceNotStartedText[] =
    L"Tessaly service was not started! \n\nTry to restart the computer.";
inline constexpr wchar_t kServiceNotInstalledText[] =
    L"Tessaly service is not installed! \n\nTry to reinstall the product.";

// The time the start timer's first tick needs (Windows raises 1 ms to its minimum).
inline constexpr Ms kStartTick = sim::kUserTimerMinimum;
// The agent's times that the cases reckon with, by their own names: changing one moves the cases.
inline constexpr Ms kGraceMs = times::kShowWindowGraceMs;        // each attempt's pause after the click
inline constexpr Ms kIntervalMs = times::kActivationIntervalMs;  // between attempts
inline constexpr Ms kSwitchMs = times::kSwitchTimeoutMs;         // the switch's bound
inline constexpr Ms kWatchdogMs = times::kWatchdogIntervalMs;
inline constexpr auto kAttemptLimit = static_cast<std::size_t>(times::kStandardAttemptLimit);
inline constexpr Ms kServicePauseMs = times::kServiceControlRetryPauseMs;
inline constexpr auto kServiceCalls =
    static_cast<std::size_t>(times::kServiceControlRetries) + 1;  // the first and the retries

inline std::wstring CommandLine(const std::wstring& arguments) {
  std::wstring line = L"\"C:\\P\\velmor.exe\"";
  if (!arguments.empty()) {
    line += L" " + arguments;
  }
  return line;
}

// The command message, as another program sends or posts it.
inline MessageResult SendCommand(SimDesktop& desktop, WindowHandle window, const peers::AgentCommandMessage& command) {
  return desktop.Send(window, command.message, command.wParam, command.lParam);
}
inline bool PostCommand(SimDesktop& desktop, WindowHandle window, const peers::AgentCommandMessage& command) {
  return desktop.Post(window, command.message, command.wParam, command.lParam);
}

class AgentScenario : public ::testing::Test {
 protected:
  SimProcess& Launch(const std::wstring& arguments = L"") {
    return desktop.LaunchAgent(CommandLine(arguments), kAgentPath);
  }
  // Launches an agent and lets its start sequence run.
  SimProcess& Start(const std::wstring& arguments = L"") {
    SimProcess& agent = Launch(arguments);
    desktop.AdvanceBy(kStartTick);
    return agent;
  }
  void SetAutostart(const std::string& text) { desktop.registry.SetString(kRunKey, kAutostartValue, text); }
  [[nodiscard]] std::optional<std::string> Autostart() const {
    return desktop.registry.StringValue(kRunKey, kAutostartValue);
  }

  [[nodiscard]] std::vector<sim::PostRecord> TrayPosts() const { return desktop.PostsOf(peers::kTrayMessage); }
  [[nodiscard]] std::size_t ServiceRequests() const { return desktop.services.controls.size(); }
  [[nodiscard]] std::size_t VersionChecks() const { return desktop.version.verifications.size(); }
  [[nodiscard]] bool Running(const SimProcess& agent, TimerId timer) const {
    return desktop.TimerRunning(agent.AgentWindow(), timer);
  }
  [[nodiscard]] std::string CaptionOf(const SimProcess& agent) const { return desktop.Caption(agent.AgentWindow()); }
  [[nodiscard]] std::vector<std::wstring> DialogTexts() const {
    std::vector<std::wstring> texts;
    for (const sim::DialogRecord& dialog : desktop.dialogs.shown) {
      texts.push_back(dialog.text);
    }
    return texts;
  }

  // What holds for every agent on every path: its window was never shown, it closed every handle it
  // opened (the marker excepted while it runs), it never closed a handle twice, nothing happened that
  // a real desktop could not do, and each trace line it wrote is one of the vocabulary's forms.
  void ExpectClean(const SimProcess& agent) const {
    for (const std::string& line : agent.TraceLines()) {
      EXPECT_TRUE(FitsTheVocabulary(line)) << "not in platform/TraceVocabulary.h: " << line;
    }
    EXPECT_FALSE(desktop.EverShown(agent.AgentWindow()));
    EXPECT_EQ(agent.InvalidHandleCloses(), 0);
    EXPECT_EQ(agent.OpenHandles(HandleKind::RegistryKey), 0);
    EXPECT_EQ(agent.OpenHandles(HandleKind::ServiceManager), 0);
    EXPECT_EQ(agent.OpenHandles(HandleKind::Service), 0);
    EXPECT_EQ(agent.OpenHandles(HandleKind::Process), 0);
    EXPECT_EQ(agent.HandlesLeftAtExit(HandleKind::RegistryKey), 0);
    EXPECT_EQ(agent.HandlesLeftAtExit(HandleKind::ServiceManager), 0);
    EXPECT_EQ(agent.HandlesLeftAtExit(HandleKind::Service), 0);
    EXPECT_EQ(agent.HandlesLeftAtExit(HandleKind::Process), 0);
    EXPECT_LE(agent.OpenHandles(HandleKind::Mapping), 1);
    EXPECT_TRUE(desktop.Faults().empty()) << desktop.Faults().front();
  }

  void TearDown() override {
    for (const auto& process : desktop.Processes()) {
      if (process->AgentWindow() != kNoWindow) {
        ExpectClean(*process);
      }
    }
  }

  SimDesktop desktop;
};

}  // namespace velmor::test
