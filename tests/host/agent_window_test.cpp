// The agent window: hidden for good, findable, its timers, the close and the end of the session that
// end the agent, and its restart registration.
#include "tests/host/AgentScenario.h"

namespace velmor::test {
namespace {

class AgentWindowTest : public AgentScenario {
 protected:
  // A logon start with the product up: the agent stays resident and does nothing else.
  SimProcess& StartResident() {
    SetAutostart("\"C:\\P\\velmor.exe\" 1");
    if (desktop.FindWindow("TMainForm", "Tessaly 2024") == kNoWindow) {
      desktop.StartProduct(ProductStart::Visible);
    }
    return Start(L"1");
  }
};

TEST_F(AgentWindowTest, IsCreatedHiddenAsShellWithOnlyTheStartTimerRunning) {
  SimProcess& agent = Launch();
  const WindowHandle window = agent.AgentWindow();
  ASSERT_NE(window, kNoWindow);
  EXPECT_EQ(CaptionOf(agent), "Shell");
  EXPECT_EQ(desktop.FindWindow("TMainForm", "Shell"), window) << "findable while hidden";
  EXPECT_FALSE(desktop.Visible(window));

  EXPECT_TRUE(Running(agent, AgentTimer::Start));
  EXPECT_EQ(desktop.TimerInterval(window, AgentTimer::Start), times::kStartDelayMs);
  EXPECT_FALSE(Running(agent, AgentTimer::Activation));
  EXPECT_FALSE(Running(agent, AgentTimer::Watchdog));

  const AgentState& state = *agent.State();
  EXPECT_EQ(state.role, AgentRole::First);
  EXPECT_TRUE(state.productUp);
  EXPECT_FALSE(state.instanceMarker);
  EXPECT_TRUE(desktop.mappingCreations.empty()) << "nothing happens before the loop runs";
}

TEST_F(AgentWindowTest, ResidentAgentIsFindableByItsNameWhileNeverShown) {
  SimProcess& agent = StartResident();
  ASSERT_FALSE(agent.Ended());
  EXPECT_EQ(CaptionOf(agent), kAgentCaption);
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), agent.AgentWindow());
  EXPECT_FALSE(desktop.Visible(agent.AgentWindow()));
  EXPECT_FALSE(Running(agent, AgentTimer::Start)) << "the start pass runs once";
  EXPECT_TRUE(agent.HoldsMapping(kMarker));
  desktop.AdvanceBy(120000);
  EXPECT_FALSE(agent.Ended());
  EXPECT_EQ(agent.Sleeps().size(), 0U);
}

// Another program destroys the agent window (made a child of a window of its own): the agent, which
// nobody can find any more, ends and releases the marker, so that the next start is a first agent.
TEST_F(AgentWindowTest, WindowDestroyedByAnotherProgramEndsTheAgentAndReleasesTheMarker) {
  SimProcess& agent = StartResident();
  ASSERT_TRUE(desktop.MappingExists(kMarker));
  desktop.DestroyWindow(agent.AgentWindow());
  desktop.RunUntilIdle();
  EXPECT_TRUE(agent.Ended());
  EXPECT_FALSE(desktop.MappingExists(kMarker));
  ASSERT_FALSE(agent.TraceLines().empty());
  EXPECT_TRUE(SaysWhat(agent.TraceLines().back(), "end reason=window-gone")) << agent.TraceLines().back();

  SimProcess& next = StartResident();
  EXPECT_EQ(CaptionOf(next), kAgentCaption) << "the next start is a first agent again";
}

TEST_F(AgentWindowTest, SecondMarkerReleaseDoesNotCloseTheMarkerAgain) {
  SimProcess& agent = StartResident();
  ASSERT_TRUE(desktop.MappingExists(kMarker));
  desktop.Call(agent, [&] {
    agent.Agent()->ReleaseInstanceMarker();
    EXPECT_FALSE(desktop.MappingExists(kMarker));
    agent.Agent()->ReleaseInstanceMarker();
  });
  EXPECT_EQ(agent.InvalidHandleCloses(), 0);
  EXPECT_FALSE(agent.Ended()) << "releasing the marker alone does not end the loop";

  desktop.Call(agent, [&] {
    agent.Agent()->Close();
    agent.Agent()->Close();
  });
  EXPECT_TRUE(agent.Ended());
  EXPECT_EQ(agent.InvalidHandleCloses(), 0);
  EXPECT_EQ(agent.HandlesLeftAtExit(HandleKind::Mapping), 0);
}

TEST_F(AgentWindowTest, WmCloseEndsTheAgentAndReleasesTheMarker) {
  SimProcess& agent = StartResident();
  desktop.Post(agent.AgentWindow(), sim::kWmClose, 0, 0);
  desktop.RunUntilIdle();
  EXPECT_TRUE(agent.Ended());
  EXPECT_FALSE(desktop.MappingExists(kMarker));
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), kNoWindow);
  EXPECT_EQ(agent.HandlesLeftAtExit(HandleKind::Mapping), 0) << "released by the close, not by the system";
  // A start that came between the two releases finds the marker, as beside any resident agent.
  const std::vector<HandleKind>& closes = agent.Closes();
  ASSERT_GE(closes.size(), 2U);
  EXPECT_EQ(closes[closes.size() - 2], HandleKind::Mutex) << "the residence lock goes first";
  EXPECT_EQ(closes.back(), HandleKind::Mapping);
}

// The Restart Manager's request (ENDSESSION_CLOSEAPP) and a real end of the session end a resident
// agent, which lets go of the marker and the residence lock within the message itself (Windows may end
// the process once it is answered); an end that is called off leaves it resident.
TEST_F(AgentWindowTest, EndOfTheSessionEndsTheAgentUnlessCalledOff) {
  SimProcess& agent = StartResident();
  desktop.Send(agent.AgentWindow(), sim::kWmEndSession, 0, sim::kEndSessionCloseApp);
  EXPECT_FALSE(agent.Ended()) << "the end was called off";
  EXPECT_EQ(desktop.MutexOwner(peers::kResidenceLockName), agent.Id());
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), agent.AgentWindow());

  desktop.Send(agent.AgentWindow(), sim::kWmEndSession, 1, sim::kEndSessionCloseApp);
  EXPECT_TRUE(agent.Ended());
  EXPECT_TRUE(SaysWhat(agent.TraceLines().back(), "end reason=restart-manager"));
  EXPECT_FALSE(desktop.MappingExists(kMarker));
  EXPECT_EQ(agent.HandlesLeftAtExit(HandleKind::Mapping), 0) << "released by the agent, not by the system";
  EXPECT_EQ(desktop.MutexOwner(peers::kResidenceLockName), 0U);

  SimProcess& next = StartResident();
  ASSERT_FALSE(next.Ended()) << "a first agent again";
  desktop.Send(next.AgentWindow(), sim::kWmEndSession, 1, 0);
  EXPECT_TRUE(next.Ended());
  EXPECT_TRUE(SaysWhat(next.TraceLines().back(), "end reason=session-end"));
}

// Only an agent that stays resident asks to be started again after an update, and as a logon start;
// one that ends once its work is done, a second agent and an elevated one do not.
TEST_F(AgentWindowTest, ResidentAgentRegistersForRestartAsALogonStart) {
  SimProcess& resident = StartResident();
  ASSERT_TRUE(resident.Restart().has_value());
  EXPECT_EQ(resident.Restart()->arguments, L"1");
  EXPECT_EQ(resident.Restart()->flags, 0x1U | 0x2U | 0x8U) << "not after a crash, a hang or a reboot";

  SimProcess& second = Start(L"1");
  SimProcess& user = Start();  // the product is up: it brings it forward and ends
  EXPECT_TRUE(desktop.AdvanceUntil([&] { return second.Ended() && user.Ended(); }, kWatchdogMs + 10000));
  EXPECT_FALSE(second.Restart().has_value());
  EXPECT_FALSE(user.Restart().has_value());

  desktop.Post(resident.AgentWindow(), sim::kWmClose, 0, 0);
  SimProcess& elevated = Launch(L"1");
  elevated.elevated = true;
  desktop.AdvanceBy(kStartTick);
  EXPECT_TRUE(elevated.Ended());
  EXPECT_FALSE(elevated.Restart().has_value());
}

TEST_F(AgentWindowTest, AgentWithoutAWindowEndsAtOnceAndTouchesNothing) {
  desktop.failWindowCreation = true;
  SimProcess& agent = Launch();
  desktop.AdvanceBy(1000);
  EXPECT_TRUE(agent.Ended());
  EXPECT_TRUE(desktop.mappingCreations.empty()) << "no start pass without the window";
  EXPECT_FALSE(desktop.MappingExists(kMarker));
  ASSERT_EQ(agent.TraceLines().size(), 1U);
  EXPECT_TRUE(SaysWhat(agent.TraceLines()[0], "end reason=window-not-created"));
}

TEST_F(AgentWindowTest, AgentEndingBeforeItsStartTickLeavesNothingBehind) {
  SimProcess& agent = Launch();
  desktop.Post(agent.AgentWindow(), sim::kWmClose, 0, 0);
  desktop.AdvanceBy(1000);
  EXPECT_TRUE(agent.Ended());
  EXPECT_TRUE(desktop.mappingCreations.empty());
  EXPECT_EQ(agent.OpenHandles(), 0);
}

TEST_F(AgentWindowTest, TwoAgentsSideBySideShareOneMarker) {
  SimProcess& first = StartResident();
  SimProcess& second = Start(L"1");
  // The second finds the marker existing: it keeps "Shell", brings the product forward and ends.
  EXPECT_EQ(CaptionOf(second), "Shell");
  EXPECT_TRUE(second.Ended());
  EXPECT_EQ(second.HandlesLeftAtExit(HandleKind::Mapping), 0);
  ASSERT_EQ(desktop.switches.size(), 1U);
  EXPECT_EQ(desktop.switches[0].fromProcess, second.Id());
  EXPECT_FALSE(first.Ended());
  EXPECT_EQ(desktop.MappingHandles(kMarker), 1);
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), first.AgentWindow());
  ASSERT_EQ(desktop.mappingCreations.size(), 2U);
  EXPECT_FALSE(desktop.mappingCreations[0].existed);
  EXPECT_TRUE(desktop.mappingCreations[1].existed);
  for (const sim::MappingCreationRecord& creation : desktop.mappingCreations) {
    EXPECT_EQ(creation.name, kMarker);
    EXPECT_EQ(creation.protect, 4U);
    EXPECT_EQ(creation.maxSizeHigh, 0U);
    EXPECT_EQ(creation.maxSizeLow, 1U);
  }
}

TEST_F(AgentWindowTest, MarkerIsCreatedAfreshOnceTheLastAgentIsGone) {
  SimProcess& first = StartResident();
  desktop.Post(first.AgentWindow(), sim::kWmClose, 0, 0);
  SimProcess& next = StartResident();
  EXPECT_TRUE(first.Ended());
  EXPECT_FALSE(next.Ended());
  EXPECT_EQ(CaptionOf(next), kAgentCaption);
  ASSERT_EQ(desktop.mappingCreations.size(), 2U);
  EXPECT_FALSE(desktop.mappingCreations[1].existed);
}

}  // namespace
}  // namespace velmor::test
