// The takeover of a first agent by a second one whose product window did not come forward in time,
// and a quit command that arrives while a dialog is open.
#include <string>
#include <utility>
#include <vector>

#include "tests/host/AgentScenario.h"

namespace velmor::test {
namespace {

class Takeover : public AgentScenario {
 protected:
  // A first agent, resident after a logon start without the product window.
  SimProcess& StartFirstAgent() {
    SetAutostart("\"C:\\P\\velmor.exe\" 1");
    SimProcess& first = Start(L"1");
    EXPECT_FALSE(first.Ended());
    EXPECT_EQ(CaptionOf(first), kAgentCaption);
    return first;
  }
  // A second agent started without the product window: the watchdog is armed by its start pass.
  SimProcess& StartSecondAgent(const std::wstring& arguments = L"") {
    SimProcess& second = Launch(arguments);
    desktop.AdvanceBy(kStartTick);
    watchdogArmedAt = desktop.Now() - kGraceMs;  // its first attempt paused after arming
    EXPECT_TRUE(Running(second, AgentTimer::Watchdog));
    return second;
  }
  void AdvanceToWatchdog() { desktop.AdvanceTo(watchdogArmedAt + kWatchdogMs); }

  Ms watchdogArmedAt = 0;
};

TEST_F(Takeover, SecondAgentMakesTheFirstQuitWhenItsWatchdogFiresAndTakesItsPlace) {
  SimProcess& first = StartFirstAgent();
  SimProcess& second = StartSecondAgent();
  desktop.services.controls.clear();
  desktop.version.verifications.clear();

  // Just before the last attempt, whose pause runs into the watchdog's due time.
  desktop.AdvanceTo(watchdogArmedAt + kWatchdogMs - 501);
  EXPECT_FALSE(first.Ended());
  EXPECT_EQ(CaptionOf(second), "Shell");
  AdvanceToWatchdog();

  EXPECT_TRUE(first.Ended());
  EXPECT_EQ(first.EndedAt(), watchdogArmedAt + kWatchdogMs);
  EXPECT_EQ(first.HandlesLeftAtExit(HandleKind::Mapping), 0) << "the quit released its marker handle";
  EXPECT_FALSE(second.Ended());
  EXPECT_EQ(CaptionOf(second), kAgentCaption);
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), second.AgentWindow());
  EXPECT_TRUE(desktop.MappingExists(kMarker));
  EXPECT_TRUE(second.HoldsMapping(kMarker));
  EXPECT_EQ(desktop.MappingHandles(kMarker), 1);
  EXPECT_EQ(second.State()->role, AgentRole::Successor);
  EXPECT_EQ(desktop.mappingCreations.size(), 2U) << "the rerun pass creates no marker";

  // The rerun pass handles the same command line (a user start) as a first agent would.
  EXPECT_EQ(VersionChecks(), 1U);
  EXPECT_EQ(ServiceRequests(), 1U);
  EXPECT_TRUE(Running(second, AgentTimer::Activation));
  EXPECT_FALSE(Running(second, AgentTimer::Watchdog));
  EXPECT_FALSE(Running(second, AgentTimer::Start));

  desktop.AdvanceBy(2 * kWatchdogMs);
  EXPECT_FALSE(second.Ended()) << "the watchdog is never armed again";
  EXPECT_FALSE(Running(second, AgentTimer::Watchdog));

  // It serves commands like any resident agent.
  SendCommand(desktop, desktop.FindWindow("TMainForm", kAgentCaption), peers::OpenPageCommand(1));
  ASSERT_EQ(desktop.shellExecutes.size(), 1U);
  EXPECT_EQ(desktop.shellExecutes[0].fromProcess, second.Id());
  SendCommand(desktop, second.AgentWindow(), peers::QuitCommand());
  EXPECT_TRUE(second.Ended());
  EXPECT_FALSE(desktop.MappingExists(kMarker));
}

TEST_F(Takeover, SuccessorHandlesALogonCommandLineAgain) {
  StartFirstAgent();
  SimProcess& second = StartSecondAgent(L"1");
  AdvanceToWatchdog();
  EXPECT_EQ(CaptionOf(second), kAgentCaption);
  EXPECT_FALSE(second.Ended());
  EXPECT_FALSE(Running(second, AgentTimer::Activation)) << "a logon start does not activate";
  const std::size_t attempts = second.Sleeps().size();
  desktop.AdvanceBy(5000);
  EXPECT_EQ(second.Sleeps().size(), attempts);
}

TEST_F(Takeover, SuccessorActivatesWhenTheProductWindowComesLater) {
  StartFirstAgent();
  SimProcess& second = StartSecondAgent();
  AdvanceToWatchdog();
  desktop.StartProduct(ProductStart::Hidden, 0);
  ASSERT_TRUE(desktop.AdvanceUntil([&] { return !desktop.switches.empty(); }, 2000));
  EXPECT_FALSE(second.Ended()) << "the rerun pass found no product window: the agent stays";
  EXPECT_FALSE(Running(second, AgentTimer::Activation));
}

TEST_F(Takeover, ThirdAgentAfterATakeoverBehavesAsASecondAgent) {
  StartFirstAgent();
  SimProcess& second = StartSecondAgent();
  AdvanceToWatchdog();
  SimProcess& third = StartSecondAgent();
  EXPECT_EQ(CaptionOf(third), "Shell");
  EXPECT_EQ(desktop.MappingHandles(kMarker), 2);
  AdvanceToWatchdog();
  EXPECT_TRUE(second.Ended());
  EXPECT_FALSE(third.Ended());
  EXPECT_EQ(CaptionOf(third), kAgentCaption);
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), third.AgentWindow());
}

TEST_F(Takeover, SecondAgentThatBringsTheProductForwardInTimeNeverTakesOver) {
  SimProcess& first = StartFirstAgent();
  SimProcess& second = StartSecondAgent();
  desktop.AdvanceBy(10000);
  desktop.StartProduct(ProductStart::Hidden, 100);
  desktop.AdvanceBy(2000);
  EXPECT_TRUE(second.Ended());
  EXPECT_EQ(desktop.switches.size(), 1U);
  desktop.AdvanceBy(kWatchdogMs);
  EXPECT_FALSE(first.Ended());
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), first.AgentWindow());
}

// Sixteen windows of a program that bear the agent's name, made after the first agent's and so
// found before it, neither hide it from the takeover nor hold the takeover up.
TEST_F(Takeover, HungFirstAgentIsEndedAfterTheBoundAndTheSuccessorCarriesOn) {
  SimProcess& first = StartFirstAgent();
  for (int i = 0; i < 16; ++i) {
    desktop.CreateForeignWindow("TMainForm", kAgentCaption, false);
  }
  SimProcess& second = StartSecondAgent();
  desktop.SetHung(first.AgentWindow(), true);
  AdvanceToWatchdog();

  EXPECT_TRUE(first.Terminated());
  EXPECT_TRUE(first.Ended());
  EXPECT_EQ(first.EndedAt(), watchdogArmedAt + kWatchdogMs + times::kQuitAnswerTimeoutMs)
      << "after the quit command's bound";
  EXPECT_EQ(first.HandlesLeftAtExit(HandleKind::Mapping), 1) << "the system released its marker handle";
  EXPECT_FALSE(second.Ended());
  EXPECT_EQ(CaptionOf(second), kAgentCaption);
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), second.AgentWindow());
  EXPECT_TRUE(second.HoldsMapping(kMarker));
  EXPECT_EQ(second.OpenHandles(HandleKind::Process), 0);
  EXPECT_TRUE(Running(second, AgentTimer::Activation));
}

// Ending a process is the takeover's own addition, so it ends only a hung agent: velmor.exe, in
// this session, without higher rights, whose window is still its own once its process is open. Any
// other owner of a window with the agent's class and caption is left alone. Each owner holds the
// residence lock, as a hung resident agent does: the successor stays when no agent of this session
// is left under the agent's name, and ends when one is.
TEST_F(Takeover, EndsOnlyAHungAgentOfThisSessionWithoutHigherRights) {
  struct Case {
    const char* image;
    std::uint32_t session;
    std::uint32_t integrityLevel;
    bool windowChangesHands;  // between the look at its owner and the opening of that process
    bool ended;
    bool successorStays;
  };
  for (const Case& c : {Case{"C:\\Other\\other.exe", 1, 0x2000, false, false, true},
                        Case{"C:\\P\\velmor.exe", 2, 0x2000, false, false, true},
                        Case{"C:\\P\\velmor.exe", 1, 0x3000, false, false, false},
                        Case{"C:\\Q\\VELMOR.EXE", 1, 0x2000, true, false, false},
                        Case{"C:\\Q\\VELMOR.EXE", 1, 0x2000, false, true, true}}) {
    SCOPED_TRACE(std::string(c.image) + " session " + std::to_string(c.session) + " level " +
                 std::to_string(c.integrityLevel) + (c.windowChangesHands ? " changing hands" : ""));
    SimDesktop fresh;
    fresh.HoldExternalMapping(kMarker);
    SimProcess& owner = fresh.CreateBareProcess(L"owner", c.image);
    owner.session = c.session;
    owner.integrityLevel = c.integrityLevel;
    fresh.Call(owner, [&] { owner.WaitForSingleObject(owner.CreateMutexA(peers::kResidenceLockName), 0); });
    const WindowHandle hung = fresh.CreateForeignWindow("TMainForm", kAgentCaption, false, owner.Id());
    fresh.SetHung(hung, true);
    SimProcess& innocent = fresh.CreateBareProcess(L"innocent", kAgentPath);
    if (c.windowChangesHands) {
      fresh.onOpenProcess = [&] {
        if (fresh.Now() > kWatchdogMs + times::kQuitAnswerTimeoutMs) {  // after the quit command went unanswered
          fresh.Window(hung)->processId = innocent.Id();
        }
      };
    }
    SimProcess& successor = fresh.LaunchAgent(CommandLine(L"1"), kAgentPath);
    fresh.AdvanceBy(kWatchdogMs + 10000);

    EXPECT_EQ(owner.Terminated(), c.ended);
    EXPECT_FALSE(innocent.Terminated());
    EXPECT_EQ(successor.Ended(), !c.successorStays);
    if (c.successorStays) {
      EXPECT_EQ(fresh.Caption(successor.AgentWindow()), kAgentCaption);
    }
    EXPECT_EQ(successor.OpenHandles(HandleKind::Process), 0);
    EXPECT_TRUE(fresh.Faults().empty());
  }
}

// The product window was there, hidden, when the watchdog fired: the successor, which took the
// product as running in its first pass, stays resident once the window shows, in the place of the
// agent it made quit.
TEST_F(Takeover, SuccessorStaysResidentWhenTheProductWindowShowsAfterTheTakeover) {
  SimProcess& first = StartFirstAgent();
  SimProcess& second = StartSecondAgent();
  SimProduct& product = desktop.StartProduct(ProductStart::Hidden, std::nullopt);
  AdvanceToWatchdog();
  ASSERT_TRUE(first.Ended());
  product.showAfterMs = 0;  // the product answers the next click
  ASSERT_TRUE(desktop.AdvanceUntil([&] { return !desktop.switches.empty(); }, 5000));
  desktop.AdvanceBy(2 * kWatchdogMs);
  EXPECT_FALSE(second.Ended()) << "after a takeover exactly one agent stays resident";
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), second.AgentWindow());
  EXPECT_TRUE(second.HoldsMapping(kMarker));
}

TEST_F(Takeover, NoAgentToTakeOverFromStillRerunsTheStartPass) {
  SimProcess& first = StartFirstAgent();
  SimProcess& second = StartSecondAgent();
  desktop.AdvanceBy(5000);
  SendCommand(desktop, first.AgentWindow(), peers::QuitCommand());
  ASSERT_TRUE(first.Ended());
  EXPECT_TRUE(desktop.MappingExists(kMarker)) << "the second agent's handle keeps it";
  AdvanceToWatchdog();
  EXPECT_FALSE(second.Ended());
  EXPECT_EQ(CaptionOf(second), kAgentCaption);
  EXPECT_TRUE(second.HoldsMapping(kMarker));
  EXPECT_EQ(desktop.mappingCreations.size(), 2U);
}

// Twelve logon starts at one instant while the product's window is not there yet, beside a window
// that a program gave the agent's class and caption, above the first agent's: the watchdogs fire
// together, and of all the agents one stays resident, the owner of the residence lock; the window
// that is no agent's is left alone, and the next start is a second agent again.
TEST_F(Takeover, OneAgentStaysResidentAfterAStormOfStartsBesideAForgedName) {
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  std::vector<SimProcess*> agents;
  for (int i = 0; i < 12; ++i) {
    agents.push_back(&Launch(L"1"));
  }
  const WindowHandle forged = desktop.CreateForeignWindow("TMainForm", kAgentCaption, false);
  // Eleven agents that each pause half a second per attempt make the simulated time run ahead: the
  // watchdogs fall due within this advance.
  desktop.AdvanceBy(kWatchdogMs + 30000);

  std::vector<const SimProcess*> resident;
  for (const SimProcess* agent : agents) {
    if (!agent->Ended()) {
      resident.push_back(agent);
    }
  }
  ASSERT_EQ(resident.size(), 1U);
  EXPECT_NE(resident[0], agents[0]) << "the first agent quit";
  EXPECT_EQ(CaptionOf(*resident[0]), kAgentCaption);
  EXPECT_EQ(desktop.MutexOwner(peers::kResidenceLockName), resident[0]->Id());
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), forged) << "found first, and left alone";
  const auto lost = std::count_if(agents.begin(), agents.end(), [](const SimProcess* agent) {
    return std::any_of(agent->TraceLines().begin(), agent->TraceLines().end(),
                       [](const std::string& line) { return SaysWhat(line, "end reason=takeover-lost"); });
  });
  EXPECT_EQ(lost, 10) << "every other successor lost the residence lock";
  EXPECT_EQ(ServiceRequests(), 2U) << "the first agent's and one successor's";

  SimProcess& next = Start(L"1");
  EXPECT_EQ(CaptionOf(next), "Shell");
  EXPECT_TRUE(Running(next, AgentTimer::Watchdog));
  EXPECT_TRUE(std::none_of(agents.begin(), agents.end(), [](const SimProcess* agent) { return agent->Terminated(); }));
}

// The same storm while a program holds the marker's name, so that no agent names itself at its start:
// the first successor finds the residence lock free and asks nobody to quit; the others leave it, busy
// in its service request, alone. Nobody is ended, and the service is asked once.
TEST_F(Takeover, StormWithoutAFirstAgentAsksTheWinnerNothing) {
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  desktop.HoldExternalMapping(kMarker, /*restricted=*/true);
  std::vector<SimProcess*> agents;
  for (int i = 0; i < 12; ++i) {
    agents.push_back(&Launch(L"1"));
  }
  desktop.AdvanceBy(kWatchdogMs + 30000);

  const auto resident = std::count_if(agents.begin(), agents.end(), [](const SimProcess* a) { return !a->Ended(); });
  EXPECT_EQ(resident, 1);
  EXPECT_TRUE(std::none_of(agents.begin(), agents.end(), [](const SimProcess* agent) { return agent->Terminated(); }));
  EXPECT_EQ(ServiceRequests(), 1U) << "the winner's alone: nobody made it quit";
}

// --- A quit while a dialog is open ---------------------------------------------------------------

class QuitDuringDialog : public AgentScenario {
 protected:
  // The next dialog is answered `answer`, but first a quit command reaches the agent through the
  // dialog's message loop.
  void QuitWhileNextDialogIsOpen(DialogResult answer) {
    desktop.dialogs.AnswerWhileOpen(answer, [this] {
      const WindowHandle agent = desktop.Processes().back()->AgentWindow();
      PostCommand(desktop, agent, peers::QuitCommand());
      desktop.RunUntilIdle();
      quitHandledWhileOpen = desktop.Processes().back()->QuitRequested();
    });
  }
  void ExpectEndedOnceByTheQuit(const SimProcess& agent) {
    EXPECT_TRUE(quitHandledWhileOpen);
    EXPECT_TRUE(agent.Ended());
    EXPECT_FALSE(desktop.MappingExists(kMarker));
    EXPECT_EQ(agent.InvalidHandleCloses(), 0);
    EXPECT_EQ(agent.HandlesLeftAtExit(HandleKind::Mapping), 0);
    ASSERT_EQ(desktop.dialogs.shown.size(), 1U);
    EXPECT_EQ(desktop.dialogs.shown[0].result, DialogResult::Cancelled);
  }

  bool quitHandledWhileOpen = false;
};

// The lines an agent wrote after its end line, and how many end lines it wrote.
std::vector<std::string> LinesAfterTheEnd(const SimProcess& agent, int& endLines) {
  std::vector<std::string> after;
  endLines = 0;
  for (const std::string& line : agent.TraceLines()) {
    if (endLines > 0) {
      after.push_back(line);
    }
    if (SaysWhat(line, "end")) {
      ++endLines;
    }
  }
  return after;
}

// The end of the session, or the Restart Manager's close, reaching an agent while one of its dialogs
// is open: once the dialog has closed, the handler that showed it does nothing more anyone can see.
// The restart prompt of a second agent beside a hidden product window used to go on to its one
// attempt: the tray click, and the product showed itself at the end of the session.
TEST_F(QuitDuringDialog, EndOfTheSessionWhileADialogIsOpenLeavesTheProductAsItIs) {
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  SimProduct& product = desktop.StartProduct(ProductStart::Hidden, 0);
  SimProcess& first = Start(L"1");
  const auto endWhileNextDialogIsOpen = [this](MessageLParam closeApp) {
    desktop.dialogs.AnswerWhileOpen(DialogResult::No, [this, closeApp] {
      desktop.Send(desktop.Processes().back()->AgentWindow(), sim::kWmEndSession, 1, closeApp);
      desktop.RunUntilIdle();
    });
  };
  const std::pair<MessageLParam, const char*> ends[] = {{sim::kEndSessionCloseApp, "end reason=restart-manager"},
                                                        {0, "end reason=session-end"}};
  for (const auto& [closeApp, endLine] : ends) {
    SCOPED_TRACE(endLine);
    endWhileNextDialogIsOpen(closeApp);
    SimProcess& second = Start(L"firststart");
    ASSERT_TRUE(second.Ended());
    int endLines = 0;
    const std::vector<std::string> after = LinesAfterTheEnd(second, endLines);
    EXPECT_EQ(endLines, 1);
    ASSERT_FALSE(second.TraceLines().empty());
    for (const std::string& line : after) {
      EXPECT_TRUE(SaysWhat(line, "restart-prompt reboot-asked=no")) << "after the end: " << line;
    }
    EXPECT_EQ(product.TrayClicks(), 0) << "the product was clicked after the end";
    EXPECT_TRUE(second.Sleeps().empty());
    EXPECT_TRUE(desktop.switches.empty());
    EXPECT_FALSE(desktop.Visible(product.Window()));
  }
  EXPECT_FALSE(first.Ended());

  // The other dialogs followed by an end: the version gate's, and a service error's.
  SendCommand(desktop, first.AgentWindow(), peers::QuitCommand());
  product.Close();
  desktop.version = {6, 1, 0, 0, {}};
  endWhileNextDialogIsOpen(sim::kEndSessionCloseApp);
  SimProcess& gated = Start();
  desktop.version = {};
  desktop.services.serviceInstalled = false;
  endWhileNextDialogIsOpen(0);
  SimProcess& refused = Start();
  for (const SimProcess* agent : {&gated, &refused}) {
    ASSERT_TRUE(agent->Ended());
    int endLines = 0;
    EXPECT_TRUE(LinesAfterTheEnd(*agent, endLines).empty());
    EXPECT_EQ(endLines, 1);
  }
  EXPECT_EQ(desktop.dialogs.shown.size(), 4U);
  EXPECT_TRUE(desktop.switches.empty());
}

// A WM_QUIT posted to the agent's window ends it through its own close, with its end line, the
// residence lock released by the agent rather than abandoned; posted while the restart prompt of a
// second agent is open, it leaves the product as it is.
TEST_F(QuitDuringDialog, PostedQuitMessageEndsTheAgentThroughItsOwnClose) {
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  SimProduct& product = desktop.StartProduct(ProductStart::Hidden, 0);
  SimProcess& resident = Start(L"1");
  ASSERT_EQ(desktop.MutexOwner(peers::kResidenceLockName), resident.Id());
  desktop.Post(resident.AgentWindow(), win32::kWmQuit, 0, 0);
  desktop.RunUntilIdle();
  ASSERT_TRUE(resident.Ended());
  EXPECT_TRUE(SaysWhat(resident.TraceLines().back(), "end reason=quit-message"));
  EXPECT_EQ(resident.HandlesLeftAtExit(HandleKind::Mutex), 0) << "the lock was left to the process's end";
  EXPECT_EQ(resident.HandlesLeftAtExit(HandleKind::Mapping), 0);
  EXPECT_FALSE(desktop.MappingExists(kMarker));

  SimProcess& first = Start(L"1");
  desktop.dialogs.AnswerWhileOpen(DialogResult::No, [this] {
    desktop.Post(desktop.Processes().back()->AgentWindow(), win32::kWmQuit, 0, 0);
    desktop.RunUntilIdle();
  });
  SimProcess& second = Start(L"firststart");
  ASSERT_TRUE(second.Ended());
  int endLines = 0;
  LinesAfterTheEnd(second, endLines);
  EXPECT_EQ(endLines, 1);
  EXPECT_EQ(product.TrayClicks(), 0);
  EXPECT_TRUE(second.Sleeps().empty());
  EXPECT_FALSE(first.Ended());
}

// A refused timer ends the agent: the handler that asked for it makes no attempt afterwards and
// writes no second end line. Here a second agent's watchdog, beside a first agent still waiting for
// the product's window.
TEST_F(QuitDuringDialog, RefusedTimerEndsTheAgentWithNothingAfterTheEnd) {
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  SimProcess& first = Start(L"1");
  desktop.refusedTimer = AgentTimer::Watchdog;
  desktop.At(desktop.Now() + kStartTick + 100, [this] { desktop.StartProduct(ProductStart::Visible); });
  SimProcess& second = Start();
  desktop.AdvanceBy(2000);
  ASSERT_TRUE(second.Ended());
  int endLines = 0;
  EXPECT_TRUE(LinesAfterTheEnd(second, endLines).empty());
  EXPECT_EQ(endLines, 1);
  EXPECT_TRUE(SaysWhat(second.TraceLines().back(), "end reason=timer-refused"));
  EXPECT_TRUE(SaysWhat(second.TraceLines()[second.TraceLines().size() - 2], "timer id=3 refused=8"));
  EXPECT_TRUE(second.Sleeps().empty()) << "an activation attempt after the end";
  EXPECT_TRUE(desktop.switches.empty());
  EXPECT_FALSE(first.Ended());
}

TEST_F(QuitDuringDialog, VersionGateMessage) {
  desktop.version = {6, 1, 0, 0, {}};
  QuitWhileNextDialogIsOpen(DialogResult::Ok);
  SimProcess& agent = Start();
  ExpectEndedOnceByTheQuit(agent);
  EXPECT_EQ(desktop.dialogs.shown[0].text, kOsGateText);
  EXPECT_EQ(ServiceRequests(), 0U);
}

TEST_F(QuitDuringDialog, ServiceErrorMessage) {
  desktop.services.serviceInstalled = false;
  QuitWhileNextDialogIsOpen(DialogResult::Ok);
  SimProcess& agent = Start();
  ExpectEndedOnceByTheQuit(agent);
  EXPECT_EQ(desktop.dialogs.shown[0].text, kServiceNotInstalledText);
  EXPECT_TRUE(desktop.switches.empty());
}

TEST_F(QuitDuringDialog, RestartPromptCountsAsNo) {
  desktop.StartProduct(ProductStart::Visible);
  QuitWhileNextDialogIsOpen(DialogResult::Yes);
  SimProcess& agent = Start(L"firststart");
  ExpectEndedOnceByTheQuit(agent);
  EXPECT_TRUE(desktop.privileges.exitWindowsCalls.empty()) << "the cancelled prompt must not reboot";
  EXPECT_TRUE(desktop.privileges.tokenAccessRequested.empty());
  EXPECT_TRUE(desktop.switches.empty());
}

TEST_F(QuitDuringDialog, RestartPromptOfASecondAgentRunsOnToItsOneAttemptAndEndsOnce) {
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  desktop.StartProduct(ProductStart::Visible);
  SimProcess& first = Start(L"1");
  QuitWhileNextDialogIsOpen(DialogResult::No);
  SimProcess& second = Start(L"firststart");
  EXPECT_TRUE(quitHandledWhileOpen);
  EXPECT_TRUE(second.Ended());
  EXPECT_EQ(second.InvalidHandleCloses(), 0);
  EXPECT_EQ(second.HandlesLeftAtExit(HandleKind::Mapping), 0);
  EXPECT_EQ(desktop.switches.size(), 1U) << "the handler runs on to its end: the one attempt of a second agent";
  int endLines = 0;
  LinesAfterTheEnd(second, endLines);
  EXPECT_EQ(endLines, 1) << "the quit's end line, and no second one after the attempt";
  EXPECT_FALSE(first.Ended());
  EXPECT_TRUE(desktop.MappingExists(kMarker));
  EXPECT_EQ(desktop.MappingHandles(kMarker), 1);
}

}  // namespace
}  // namespace velmor::test
