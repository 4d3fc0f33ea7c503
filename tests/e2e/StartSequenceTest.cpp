// The start cases of velmor.exe, watched from outside: the version gate, the restart prompt, the
// autostart rewrite, the user and logon starts, and the takeover of a running agent.
#include <algorithm>
#include <chrono>
#include <vector>

#include "peers/AgentContract.h"
#include "tests/e2e/AgentTest.h"

namespace velmor::e2e {
namespace {

using StartSequenceTest = AgentTest;

const std::wstring kOsNotSupported =
    L"Your operating system is not supported by the current version of Tessaly. Minimum requirement: Windows 10 / "
    L"11 or later.";
const std::wstring kRestartPrompt =
    L"Another product version is already running. If you just installed this version, please restart the "
    L"computer.\n\nDo you want to restart the computer now?";

// The value the agent writes from its folder: the quoted path of velmor.exe there, then the tail.
std::string RewrittenValue(const std::string& tail) {
  return "\"" + ShippedFolder() + "velmor.exe\"" + tail;
}

void ExpectAutostartValue(const std::string& text) {
  const std::optional<RegistryValue> value = ReadAutostart();
  ASSERT_TRUE(value.has_value()) << "no autostart value";
  EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
  // The stored size is the text's length plus its terminating NUL, and nothing follows.
  EXPECT_EQ(value->data, text + std::string(1, '\0'));
}

// --- The version gate ---------------------------------------------------------------------------

TEST_F(StartSequenceTest, VersionGateRejectsWindows8WithInformationDialog) {
  if (!RunningUnderWine()) {
    GTEST_SKIP() << "the reported Windows version can only be chosen under Wine";
  }
  ASSERT_TRUE(SetWineVersionForAgent("win8"));
  InstallService();
  ASSERT_EQ(StartServiceStandin(), 0U);
  ChildProcess& agent = StartAgent("");

  ExpectOkDialogThenExit(agent, L"Information", kOsNotSupported);
  EXPECT_EQ(CountLines(ServiceLog(), "control"), 0U) << "the gate must stop the agent before the service request";
}

// A quit command while the gate's dialog is open ends the agent and takes the dialog with it.
TEST_F(StartSequenceTest, QuitWhileVersionGateDialogIsOpenEndsAgentAndDialog) {
  if (!RunningUnderWine()) {
    GTEST_SKIP() << "the reported Windows version can only be chosen under Wine";
  }
  ASSERT_TRUE(SetWineVersionForAgent("win8"));
  ChildProcess& agent = StartAgent("");
  const std::optional<DialogContent> dialog = WaitForDialog(agent.Id(), kStartBound);
  ASSERT_TRUE(dialog.has_value());
  EXPECT_EQ(dialog->text, kOsNotSupported);

  HWND window = FindNamedAgentWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(WindowProcessId(window), agent.Id());
  EXPECT_EQ(QuitByCommand(window, agent), 0U);
  EXPECT_FALSE(::IsWindow(dialog->window));
}

class VersionGatePassTest : public StartSequenceTest, public ::testing::WithParamInterface<const char*> {};

// Under 8.1 and 10 the gate passes; with the manifest's supportedOS entries the agent is told its
// true version, so this also checks the embedded manifest.
TEST_P(VersionGatePassTest, LogonStartPassesGateAndAsksServiceOnce) {
  if (!RunningUnderWine()) {
    GTEST_SKIP() << "the reported Windows version can only be chosen under Wine";
  }
  ASSERT_TRUE(SetWineVersionForAgent(GetParam()));
  InstallService();
  ASSERT_EQ(StartServiceStandin(), 0U);
  ChildProcess& agent = StartAgent("1");

  ASSERT_TRUE(WaitUntil([&] { return CountLines(ServiceLog(), "control 133") == 1; }, kStartBound));
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(TopLevelWindowsOf(agent.Id(), "#32770").empty()) << "no dialog expected";
  EXPECT_EQ(QuitByCommand(window, agent), 0U);
  EXPECT_EQ(CountLines(ServiceLog(), "control"), 1U);
}

INSTANTIATE_TEST_SUITE_P(Windows, VersionGatePassTest, ::testing::Values("win81", "win10"));

// --- The restart prompt ---------------------------------------------------------------------------

// Waits for the agent's restart prompt and checks its caption, text, buttons, default and topmost.
std::optional<DialogContent> WaitForRestartPrompt(const ChildProcess& agent) {
  std::optional<DialogContent> dialog = WaitForDialog(agent.Id(), kStartBound);
  if (!dialog) {
    ADD_FAILURE() << "no restart prompt";
    return dialog;
  }
  EXPECT_EQ(dialog->caption, L"Confirm");
  EXPECT_EQ(WithLineFeeds(dialog->text), kRestartPrompt);
  EXPECT_EQ(dialog->buttons.size(), 2U);
  if (dialog->buttons.size() == 2U) {
    EXPECT_EQ(dialog->buttons[0].id, IDYES);
    EXPECT_EQ(dialog->buttons[0].text, L"&Yes");
    EXPECT_EQ(dialog->buttons[1].id, IDNO);
    EXPECT_EQ(dialog->buttons[1].text, L"&No");
  }
  EXPECT_EQ(DefaultButtonId(dialog->window), IDYES) << "Yes is the default button";
  EXPECT_NE(::GetWindowLongA(dialog->window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0) << "the prompt stays on top";
  return dialog;
}

TEST_F(StartSequenceTest, RestartPromptWithFirstMarkerAnsweredNo) {
  HeldMapping otherVersion("h723lsw932");
  ASSERT_TRUE(otherVersion);
  WriteAutostart("\"C:\\Old\\velmor.exe\" 1");
  ChildProcess& agent = StartAgentAsInstaller("firststart");

  const std::optional<DialogContent> dialog = WaitForRestartPrompt(agent);
  ASSERT_TRUE(dialog.has_value());
  // Never Yes here: under Wine a reboot request ends the whole session.
  AnswerDialog(dialog->window, IDNO);
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U);
  // The value is rewritten before the prompt.
  ExpectAutostartValue(RewrittenValue(" 1"));
}

TEST_F(StartSequenceTest, RestartPromptWithSecondMarkerOnlyAnsweredEsc) {
  HeldMapping otherVersion("j4nj8d783js6");
  ASSERT_TRUE(otherVersion);
  ChildProcess& agent = StartAgentAsInstaller("FirstNotStartButRestart");

  const std::optional<DialogContent> dialog = WaitForRestartPrompt(agent);
  ASSERT_TRUE(dialog.has_value());
  // Esc on the focused default button: the dialog's own keyboard handling must take it as No.
  PressEscape(dialog->window, IDYES);
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U);
  ExpectAutostartValue(RewrittenValue(""));
}

// --- The autostart value at install time ----------------------------------------------------------

TEST_F(StartSequenceTest, FirstNotStartButRestartRewritesValueKeepingTailAndEnds) {
  ASSERT_TRUE(WriteAutostart("\"C:\\Old\\velmor.exe\" 1"));
  InstallService();
  ASSERT_EQ(StartServiceStandin(), 0U);
  ChildProcess& agent = StartAgentAsInstaller("firstnotstartbutrestart");
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U);
  ExpectAutostartValue(RewrittenValue(" 1"));
  EXPECT_EQ(CountLines(ServiceLog(), "control"), 0U);
}

TEST_F(StartSequenceTest, FirstNotStartButRestartWithValueMissingWritesQuotedPathAlone) {
  ChildProcess& agent = StartAgentAsInstaller("firstnotstartbutrestart");
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U);
  ExpectAutostartValue(RewrittenValue(""));
}

// "firststart" with the product not running rewrites the value and goes on as a start by the user;
// run elevated, as by an installer, it then ends and leaves residence to a start at the user's rights.
TEST_F(StartSequenceTest, FirstStartRewritesValueThenBringsProductUp) {
  ASSERT_TRUE(WriteAutostart("\"C:\\Old\\velmor.exe\" 1"));
  InstallService(LaunchProductWindowOption("200"));
  ASSERT_EQ(StartServiceStandin(), 0U);
  ChildProcess& agent = StartAgentAsInstaller("firststart");

  ASSERT_TRUE(
      WaitUntil([] { return ProductWindow() != nullptr && ::IsWindowVisible(ProductWindow()); }, 30s + StartCost()))
      << "the product window did not come forward";
  ExpectAutostartValue(RewrittenValue(" 1"));
  EXPECT_EQ(CountLines(ServiceLog(), "control 133"), 1U);
  EXPECT_GE(CountLines(ProductLog(), "tray 0 514"), 1U);
  if (RunsElevated()) {
    EXPECT_EQ(agent.WaitForExit(kExitBound), 0U) << "an elevated agent must not stay resident";
    return;
  }
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr) << "the agent must stay resident";
  EXPECT_EQ(QuitByCommand(window, agent), 0U);
}

// --- Starts by the user and at logon ------------------------------------------------------------

// The agent's main job: the service brings the hidden product window up, the agent clicks it
// forward and stays resident.
TEST_F(StartSequenceTest, UserStartWithProductNotRunningBringsItForwardAndStaysResident) {
  InstallService(LaunchProductWindowOption("300"));
  ASSERT_EQ(StartServiceStandin(), 0U);
  ChildProcess& agent = StartAgent("");

  ASSERT_TRUE(
      WaitUntil([] { return ProductWindow() != nullptr && ::IsWindowVisible(ProductWindow()); }, 30s + StartCost()))
      << "the product window did not come forward";
  EXPECT_EQ(CountLines(ServiceLog(), "control 133"), 1U);
  EXPECT_GE(CountLines(ProductLog(), "tray 0 514"), 1U);
  EXPECT_EQ(CountLines(ProductLog(), "shown"), 1U);
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr) << "the agent must stay resident, named velmor8476035";
  EXPECT_FALSE(::IsWindowVisible(window));
  // Once the window is visible the agent stops clicking it.
  const std::size_t clicks = CountLines(ProductLog(), "tray");
  EXPECT_FALSE(WaitUntil([&] { return CountLines(ProductLog(), "tray") > clicks; }, 2500ms))
      << "the agent kept clicking a visible product window";
  EXPECT_TRUE(agent.IsRunning());

  EXPECT_EQ(QuitByCommand(window, agent), 0U);
}

TEST_F(StartSequenceTest, LogonStartWithValueEndingInZeroEndsAtOnce) {
  ASSERT_TRUE(WriteAutostart("\"C:\\Old\\velmor.exe\" 0"));
  InstallService();
  ASSERT_EQ(StartServiceStandin(), 0U);
  ChildProcess& agent = StartAgent("1");
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U);
  EXPECT_EQ(CountLines(ServiceLog(), "control"), 0U);
}

TEST_F(StartSequenceTest, LogonStartWithValueMissingAsksServiceAndStaysWithoutActivating) {
  InstallService(LaunchProductWindowOption("0"));
  ASSERT_EQ(StartServiceStandin(), 0U);
  ChildProcess& agent = StartAgent("1");

  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitUntil([this] { return CountLines(ServiceLog(), "control 133") == 1; }, kStartBound));
  ASSERT_TRUE(WaitUntil([] { return ProductWindow() != nullptr; }, kStartBound));
  // A logon start does not bring the product forward: no click reaches it while the agent runs on.
  EXPECT_FALSE(WaitUntil([this] { return CountLines(ProductLog(), "tray") > 0; }, 3s));
  EXPECT_TRUE(agent.IsRunning());
  EXPECT_EQ(CountLines(ServiceLog(), "control"), 1U);

  EXPECT_EQ(QuitByCommand(window, agent), 0U);
}

// --- The takeover ------------------------------------------------------------------------------

// A second agent that finds no product window and cannot bring one forward within 30 seconds makes
// the first agent quit and takes its place.
TEST_F(StartSequenceTest, SecondAgentTakesOverAfterThirtySeconds) {
  InstallService();
  ASSERT_EQ(StartServiceStandin(), 0U);
  ChildProcess& first = StartAgent("1");
  ASSERT_NE(WaitForNamedAgent(first), nullptr);
  ASSERT_TRUE(WaitUntil([this] { return CountLines(ServiceLog(), "control 133") == 1; }, kStartBound));

  const auto started = std::chrono::steady_clock::now();
  ChildProcess& second = StartAgent("");
  ASSERT_TRUE(WaitUntil([&] { return !TopLevelWindowsOf(second.Id(), "TMainForm").empty(); }, kStartBound));
  EXPECT_EQ(first.WaitForExit(60s), 0U) << "the first agent was not made to quit";
  const auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
  EXPECT_GE(waited.count(), 25) << "the takeover came too early";

  HWND window = WaitForNamedAgent(second);
  ASSERT_NE(window, nullptr) << "the second agent did not take the name velmor8476035";
  EXPECT_TRUE(second.IsRunning());
  EXPECT_EQ(QuitByCommand(window, second), 0U);
}

// Twelve logon starts at one instant while the product's window is not there: the second agents'
// watchdogs fire together, and one agent stays resident, the one that bears the agent's name.
TEST_F(StartSequenceTest, StormOfLogonStartsLeavesOneResidentAgent) {
  InstallService();
  ASSERT_EQ(StartServiceStandin(), 0U);
  std::vector<ChildProcess*> agents;
  for (int i = 0; i < 12; ++i) {
    agents.push_back(&StartAgent("1"));
  }
  const auto running = [&] {
    return std::count_if(agents.begin(), agents.end(), [](const ChildProcess* agent) { return agent->IsRunning(); });
  };
  ASSERT_TRUE(WaitUntil([&] { return running() == 1; }, 90s)) << running() << " agents still run";
  ::Sleep(3000);  // the losers' waits are over; nothing more ends
  ASSERT_EQ(running(), 1);
  const ChildProcess& resident =
      **std::find_if(agents.begin(), agents.end(), [](const ChildProcess* agent) { return agent->IsRunning(); });
  const HWND window = WaitForNamedAgent(resident);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(::FindWindowA("TMainForm", "velmor8476035"), window);
  EXPECT_EQ(QuitByCommand(window, resident), 0U);
}

}  // namespace
}  // namespace velmor::e2e
