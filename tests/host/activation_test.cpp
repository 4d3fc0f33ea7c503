// Bringing the product window forward: the tray click, the half-second pause, the switch, and the
// retries once a second.
#include "tests/host/AgentScenario.h"

namespace velmor::test {
namespace {

class Activation : public AgentScenario {
 protected:
  // A user start; the first attempt runs within the start pass.
  SimProcess& UserStart() { return Start(); }
  [[nodiscard]] Ms StartedAt() const { return kStartTick; }
};

TEST_F(Activation, VisibleWindowGetsNoTrayClickButStillThePauseThenTheSwitch) {
  SimProduct& product = desktop.StartProduct(ProductStart::Visible);
  SimProcess& agent = UserStart();
  EXPECT_TRUE(TrayPosts().empty());
  ASSERT_EQ(agent.Sleeps().size(), 1U);
  EXPECT_EQ(agent.Sleeps()[0].milliseconds, kGraceMs);
  ASSERT_EQ(desktop.switches.size(), 1U);
  EXPECT_EQ(desktop.switches[0].window, product.Window());
  EXPECT_TRUE(desktop.switches[0].altTab);
  EXPECT_EQ(desktop.switches[0].at, StartedAt() + kGraceMs);
  EXPECT_TRUE(agent.Ended()) << "the product was up already";
}

TEST_F(Activation, HiddenWindowShowingWithinThePauseIsSwitchedToInTheSameAttempt) {
  SimProduct& product = desktop.StartProduct(ProductStart::Hidden, kGraceMs - 1);
  SimProcess& agent = UserStart();
  const std::vector<sim::PostRecord> clicks = TrayPosts();
  ASSERT_EQ(clicks.size(), 1U);
  const sim::PostRecord& click = clicks[0];
  EXPECT_EQ(click.window, product.Window());
  EXPECT_EQ(click.wParam, 0U);
  EXPECT_EQ(click.lParam, 0x202);
  EXPECT_EQ(click.at, StartedAt()) << "posted before the pause";
  EXPECT_EQ(product.TrayClicks(), 1);
  ASSERT_EQ(desktop.switches.size(), 1U);
  EXPECT_EQ(desktop.switches[0].at, StartedAt() + kGraceMs);
  EXPECT_EQ(agent.Sleeps().size(), 1U);
  EXPECT_TRUE(agent.Ended());
}

TEST_F(Activation, HiddenWindowShowingAfterThePauseIsSwitchedToOnALaterTick) {
  SimProduct& product = desktop.StartProduct(ProductStart::Hidden, kGraceMs + 200);
  SimProcess& agent = UserStart();
  EXPECT_TRUE(desktop.switches.empty());
  EXPECT_TRUE(Running(agent, AgentTimer::Activation));
  desktop.AdvanceBy(kIntervalMs);  // the window showed after the pause; the next tick finds it visible
  ASSERT_EQ(desktop.switches.size(), 1U);
  EXPECT_EQ(desktop.switches[0].at, StartedAt() + kGraceMs + kIntervalMs + kGraceMs);
  EXPECT_EQ(product.TrayClicks(), 1) << "a visible window gets no click";
  EXPECT_TRUE(agent.Ended());
}

TEST_F(Activation, NoWindowMeansAnAttemptAboutOnceASecondWithNothingPosted) {
  SimProcess& agent = UserStart();  // the service takes the request but the window never comes
  EXPECT_FALSE(agent.State()->productUp);
  desktop.AdvanceBy(10 * kIntervalMs);
  EXPECT_TRUE(TrayPosts().empty());
  EXPECT_TRUE(desktop.switches.empty());
  EXPECT_TRUE(Running(agent, AgentTimer::Activation));
  EXPECT_EQ(desktop.TimerInterval(agent.AgentWindow(), AgentTimer::Activation), kIntervalMs);
  ASSERT_EQ(agent.Sleeps().size(), 11U);
  for (std::size_t i = 2; i < agent.Sleeps().size(); ++i) {
    EXPECT_EQ(agent.Sleeps()[i].startedAt - agent.Sleeps()[i - 1].startedAt, kIntervalMs);
  }

  // The window appears hidden and shows on the click: switched to, and the agent stays.
  desktop.StartProduct(ProductStart::Hidden, 0);
  ASSERT_TRUE(desktop.AdvanceUntil([&] { return !desktop.switches.empty(); }, kIntervalMs));
  EXPECT_EQ(TrayPosts().size(), 1U);
  EXPECT_FALSE(Running(agent, AgentTimer::Activation));
  EXPECT_FALSE(agent.Ended());
  const std::size_t attempts = agent.Sleeps().size();
  desktop.AdvanceBy(10000);
  EXPECT_EQ(agent.Sleeps().size(), attempts) << "no attempt after the switch";
}

TEST_F(Activation, HiddenWindowThatNeverShowsGetsOneClickPerAttempt) {
  SimProduct& product = desktop.StartProduct(ProductStart::Hidden, std::nullopt);
  SimProcess& agent = UserStart();
  desktop.AdvanceTo(StartedAt() + kGraceMs + 3 * kIntervalMs);  // the start pass's attempt and three ticks
  EXPECT_EQ(product.TrayClicks(), 4);
  EXPECT_EQ(TrayPosts().size(), agent.Sleeps().size());
  EXPECT_TRUE(desktop.switches.empty());
  EXPECT_FALSE(agent.Ended());
  EXPECT_FALSE(desktop.EverShown(agent.AgentWindow()));
}

TEST_F(Activation, VisibleWindowWithTheProductNotRunningAtStartIsSwitchedToAndTheAgentStays) {
  desktop.services.onAccepted = [this] { desktop.StartProduct(ProductStart::Visible); };
  SimProcess& agent = UserStart();
  EXPECT_FALSE(agent.State()->productUp);
  EXPECT_TRUE(TrayPosts().empty());
  ASSERT_EQ(desktop.switches.size(), 1U);
  EXPECT_FALSE(agent.Ended());
  EXPECT_FALSE(Running(agent, AgentTimer::Activation));
  EXPECT_EQ(CaptionOf(agent), kAgentCaption);
}

// Bringing a window forward waits on its thread: a product that shows its window and then stops
// answering counts as not shown. An agent that ends anyway gives up in time; a resident one tries
// again each second and switches once the product answers again.
TEST_F(Activation, ProductThatDoesNotAnswerIsNeverWaitedOnAndCountsAsNotShown) {
  SimProduct& product = desktop.StartProduct(ProductStart::Visible);
  desktop.SetHung(product.Window(), true);
  SimProcess& passing = UserStart();
  EXPECT_TRUE(desktop.AdvanceUntil([&] { return passing.Ended(); }, 2 * kWatchdogMs)) << "gave up after its attempts";
  EXPECT_TRUE(desktop.switches.empty());
  EXPECT_LE(desktop.Now(), (kAttemptLimit + 1) * kIntervalMs) << "no attempt waited on the product for long";

  product.Close();
  desktop.services.onAccepted = [this] { desktop.SetHung(desktop.StartProduct(ProductStart::Visible).Window(), true); };
  SimProcess& resident = UserStart();
  desktop.AdvanceBy(2 * kWatchdogMs);
  EXPECT_FALSE(resident.Ended());
  EXPECT_TRUE(desktop.switches.empty());
  desktop.SetHung(desktop.Products().back()->Window(), false);
  EXPECT_TRUE(desktop.AdvanceUntil([&] { return !desktop.switches.empty(); }, 2000));
  EXPECT_FALSE(resident.Ended());
}

// A product window that never shows (a hung product, or a hidden window of its caption): second
// agents give up once the watchdog would have fired instead of piling up; a resident agent waits until it shows.
TEST_F(Activation, AgentsThatWouldEndStopWaitingWithTheWatchdogAResidentOneWaitsForTheWindow) {
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  SimProcess& first = Start(L"1");  // resident after a logon start without the product's window
  SimProduct& product = desktop.StartProduct(ProductStart::Hidden, std::nullopt);
  const Ms startedAt = desktop.Now();
  SimProcess& second = Start();
  SimProcess& third = Start();
  EXPECT_FALSE(Running(second, AgentTimer::Watchdog)) << "the product window is there";
  EXPECT_TRUE(Running(second, AgentTimer::Activation));
  ASSERT_TRUE(desktop.AdvanceUntil([&] { return second.Ended() && third.Ended(); }, kWatchdogMs + 10000));
  EXPECT_GE(second.EndedAt() - startedAt, kWatchdogMs - kIntervalMs);
  EXPECT_EQ(second.Sleeps().size(), kAttemptLimit);
  EXPECT_EQ(third.Sleeps().size(), kAttemptLimit);
  EXPECT_EQ(CaptionOf(second), "Shell");
  EXPECT_FALSE(first.Ended());
  EXPECT_EQ(desktop.MappingHandles(kMarker), 1);

  // A first agent, which stays resident, keeps trying once a second until the window shows, however
  // late: here the product's window comes, hidden, after the watchdog's time and more after the service took the
  // request.
  SendCommand(desktop, first.AgentWindow(), peers::QuitCommand());
  product.Close();
  desktop.posts.clear();
  desktop.services.onAccepted = [this] {
    desktop.At(desktop.Now() + kWatchdogMs + 5000, [this] { desktop.StartProduct(ProductStart::Hidden, 0); });
  };
  SimProcess& resident = Start();
  ASSERT_TRUE(desktop.AdvanceUntil([&] { return !desktop.switches.empty(); }, kWatchdogMs + 10000));
  EXPECT_GT(resident.Sleeps().size(), kAttemptLimit);
  EXPECT_EQ(TrayPosts().size(), 1U);
  EXPECT_EQ(desktop.switches.back().fromProcess, resident.Id());
  EXPECT_FALSE(Running(resident, AgentTimer::Activation));
  desktop.AdvanceBy(10000);
  EXPECT_FALSE(resident.Ended());
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), resident.AgentWindow());
}

// A product that answers the probe at once and then blocks 30 s in the switch (in its first
// WM_WINDOWPOSCHANGING, as seen under Wine): the switch is waited for a second, no longer. A second
// agent ends right after it; a resident first agent hears the next command at once.
TEST_F(Activation, ProductThatHangsInTheSwitchHoldsTheAgentNoLongerThanTheSwitchsBound) {
  desktop.services.onAccepted = [this] { desktop.StartProduct(ProductStart::Visible).blockInSwitchMs = 30000; };
  SimProcess& resident = UserStart();
  ASSERT_EQ(desktop.switches.size(), 1U);
  const sim::SwitchRecord& firstSwitch = desktop.switches[0];
  EXPECT_EQ(firstSwitch.timeoutMs, kSwitchMs);
  EXPECT_FALSE(firstSwitch.finished);
  ASSERT_FALSE(resident.TraceLines().empty());
  EXPECT_TRUE(SaysWhat(resident.TraceLines()[resident.TraceLines().size() - 2],
                       "activation attempt=1 tray-click=no result=switch-unfinished"));
  EXPECT_TRUE(SaysWhat(resident.TraceLines().back(), "resident after=activation"));
  EXPECT_FALSE(resident.Ended());
  EXPECT_FALSE(Running(resident, AgentTimer::Activation)) << "an unfinished switch is not tried again";
  PostCommand(desktop, resident.AgentWindow(), peers::QuitCommand());
  desktop.RunUntilIdle();
  EXPECT_TRUE(resident.Ended());
  EXPECT_LE(resident.EndedAt() - firstSwitch.at, kSwitchMs) << "the quit waited on the product";

  desktop.AdvanceBy(30000);  // the product answers again
  desktop.Products().back()->blockInSwitchMs = 30000;
  const Ms secondStart = desktop.Now();
  SimProcess& second = UserStart();  // the product is up: it switches and ends
  ASSERT_TRUE(second.Ended());
  EXPECT_LE(second.EndedAt() - secondStart, kStartTick + kGraceMs + kSwitchMs);
  ASSERT_EQ(desktop.switches.size(), 2U);
  EXPECT_FALSE(desktop.switches[1].finished);
  EXPECT_TRUE(SaysWhat(second.TraceLines().back(), "end reason=activation-done"));
}

// The product shows itself on the tray click and takes the foreground then, which Windows allows only
// when the foreground's owner lets it: the agent gives the product's process that right first, and
// only for a click.
TEST_F(Activation, ProductIsAllowedTheForegroundBeforeEachTrayClick) {
  SimProduct& product = desktop.StartProduct(ProductStart::Hidden, kGraceMs + 200);
  SimProcess& agent = UserStart();
  desktop.AdvanceBy(kIntervalMs);
  ASSERT_TRUE(agent.Ended());
  const std::vector<sim::PostRecord> clicks = TrayPosts();
  ASSERT_EQ(clicks.size(), 1U);
  ASSERT_EQ(desktop.foregroundGrants.size(), 1U) << "a visible window gets neither click nor grant";
  const sim::ForegroundGrantRecord& grant = desktop.foregroundGrants[0];
  EXPECT_EQ(grant.fromProcess, agent.Id());
  EXPECT_EQ(grant.processId, product.ProcessId());
  EXPECT_EQ(grant.at, clicks[0].at);
  ASSERT_LT(grant.postsBefore, desktop.posts.size());
  EXPECT_EQ(desktop.posts[grant.postsBefore].message, peers::kTrayMessage) << "the grant comes right before the click";
}

TEST_F(Activation, WindowWithAnotherCaptionIsNotTheProduct) {
  desktop.CreateForeignWindow("TMainForm", "Tessaly 2025", true);
  desktop.CreateForeignWindow("TForm", "Tessaly 2024", true);
  SimProcess& agent = UserStart();
  EXPECT_FALSE(agent.State()->productUp);
  EXPECT_EQ(ServiceRequests(), 1U);
  EXPECT_TRUE(desktop.switches.empty());
  EXPECT_TRUE(TrayPosts().empty());
}

}  // namespace
}  // namespace velmor::test
