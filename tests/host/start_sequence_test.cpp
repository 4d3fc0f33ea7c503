// The start sequence: the start cases, the install-time rewrite, the checks and where each start
// ends, for a first agent and for a second one.
#include "tests/host/AgentScenario.h"

namespace velmor::test {
namespace {

class StartSequence : public AgentScenario {
 protected:
  // The service brings the product up: its window appears hidden and shows on the tray click.
  void ServiceStartsProduct() {
    desktop.services.onAccepted = [this] {
      if (desktop.FindWindow("TMainForm", "Tessaly 2024") == kNoWindow) {
        desktop.StartProduct(ProductStart::Hidden, 0);
      }
    };
  }
  void ProductUp() { desktop.StartProduct(ProductStart::Visible); }

  // A first agent resident without the product window: logon start with the value ending in 1.
  SimProcess& StartResidentFirstAgent() {
    SetAutostart("\"C:\\P\\velmor.exe\" 1");
    SimProcess& first = Start(L"1");
    EXPECT_FALSE(first.Ended());
    desktop.services.controls.clear();
    desktop.version.verifications.clear();
    return first;
  }

  // What a start did, counted since the case began.
  struct Outcome {
    bool ended;
    std::size_t versionChecks, serviceRequests, trayPosts, switches;
  };
  void ExpectOutcome(const SimProcess& agent, const Outcome& expected) {
    EXPECT_EQ(agent.Ended(), expected.ended);
    EXPECT_EQ(VersionChecks(), expected.versionChecks);
    EXPECT_EQ(ServiceRequests(), expected.serviceRequests);
    EXPECT_EQ(TrayPosts().size(), expected.trayPosts);
    EXPECT_EQ(desktop.switches.size(), expected.switches);
  }
};

// --- The case table, for an agent that finds no other agent ------------------------------------

TEST_F(StartSequence, UserStartWithoutProductChecksAsksTheServiceActivatesAndStays) {
  ServiceStartsProduct();
  SimProcess& agent = Start();
  ExpectOutcome(agent, {.ended = false, .versionChecks = 1, .serviceRequests = 1, .trayPosts = 1, .switches = 1});
  EXPECT_EQ(desktop.services.controls[0].control, 133U);
  EXPECT_TRUE(DialogTexts().empty());
  EXPECT_EQ(CaptionOf(agent), kAgentCaption);
  EXPECT_FALSE(Running(agent, AgentTimer::Activation));
  EXPECT_FALSE(Running(agent, AgentTimer::Watchdog));
  EXPECT_FALSE(agent.State()->productUp);
  EXPECT_EQ(agent.CurrentDirectory(), kAgentFolder);
  EXPECT_FALSE(Autostart().has_value()) << "no argument: the autostart value is not touched";
}

TEST_F(StartSequence, UserStartWithProductRunningOnlyActivatesAndEnds) {
  ProductUp();
  SimProcess& agent = Start();
  ExpectOutcome(agent, {.ended = true, .versionChecks = 0, .serviceRequests = 0, .trayPosts = 0, .switches = 1});
  EXPECT_FALSE(desktop.MappingExists(kMarker));
  EXPECT_TRUE(DialogTexts().empty());
}

TEST_F(StartSequence, FirstStartWithoutProductRewritesTheValueThenGoesOnAsAUserStart) {
  SetAutostart("\"C:\\Old\\velmor.exe\" 1");
  ServiceStartsProduct();
  SimProcess& agent = Start(L"firststart");
  EXPECT_EQ(Autostart(), "\"C:\\P\\velmor.exe\" 1");
  ExpectOutcome(agent, {.ended = false, .versionChecks = 1, .serviceRequests = 1, .trayPosts = 1, .switches = 1});
  EXPECT_TRUE(DialogTexts().empty());
}

TEST_F(StartSequence, FirstStartKeepsTheTailFromTheLastSpaceOfTheOldValue) {
  desktop.registry.CreateKey(kRunKey);
  for (const auto& [before, after] : std::vector<std::pair<std::string, std::string>>{
           {"\"C:\\Program Files\\P\\velmor.exe\" firststart", "\"C:\\P\\velmor.exe\" firststart"},
           // The only space lies in the quoted folder name: the rest of the old path is the tail.
           {"\"C:\\Program Files\\P\\velmor.exe\"", "\"C:\\P\\velmor.exe\" Files\\P\\velmor.exe\""},
           {"C:\\P\\velmor.exe", "\"C:\\P\\velmor.exe\""},
       }) {
    for (const wchar_t* keyword : {L"firstnotstartbutrestart", L"firststart"}) {
      SetAutostart(before);
      SimProcess& agent = Start(keyword);
      EXPECT_EQ(Autostart(), after) << "rewriting " << before;
      SendCommand(desktop, agent.AgentWindow(), peers::QuitCommand());  // the next start is a first agent again
    }
  }
}

// The usual value of a product under "Program Files" written without an argument: the tail its
// rewrite keeps is an argument, which keeps every later start from that value on the logon road.
TEST_F(StartSequence, ValueWithoutArgumentIsRewrittenSoThatItsLogonStartStaysResident) {
  SetAutostart("\"C:\\Program Files\\Tessaly\\velmor.exe\"");
  SimProcess& installer = Start(L"firstnotstartbutrestart");
  EXPECT_TRUE(installer.Ended());
  const std::string rewritten = "\"C:\\P\\velmor.exe\" Files\\Tessaly\\velmor.exe\"";
  EXPECT_EQ(Autostart(), rewritten);
  Start(L"firstnotstartbutrestart");
  EXPECT_EQ(Autostart(), rewritten) << "a later install keeps the same tail";

  // At logon Windows starts the stored command line, with the product up and hidden.
  desktop.StartProduct(ProductStart::Hidden);
  SimProcess& logon = desktop.LaunchAgent(sim::WideFromUtf8(*Autostart()), kAgentPath);
  desktop.AdvanceBy(kStartTick);
  ExpectOutcome(logon, {.ended = false, .versionChecks = 0, .serviceRequests = 0, .trayPosts = 0, .switches = 0});
  desktop.AdvanceBy(kWatchdogMs + 10000);
  EXPECT_FALSE(logon.Ended());
  EXPECT_TRUE(TrayPosts().empty());
  EXPECT_TRUE(desktop.switches.empty());
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), logon.AgentWindow());
}

TEST_F(StartSequence, FirstStartWithProductRunningPromptsForARestartAndEnds) {
  SetAutostart("\"C:\\Old\\velmor.exe\"");
  ProductUp();
  SimProcess& agent = Start(L"firststart");
  EXPECT_EQ(Autostart(), "\"C:\\P\\velmor.exe\"");
  ExpectOutcome(agent, {.ended = true, .versionChecks = 0, .serviceRequests = 0, .trayPosts = 0, .switches = 0});
  ASSERT_EQ(desktop.dialogs.shown.size(), 1U);
  const sim::DialogRecord& prompt = desktop.dialogs.shown[0];
  EXPECT_EQ(prompt.kind, DialogKind::Confirmation);
  EXPECT_EQ(prompt.text, kRestartPromptText);
  EXPECT_TRUE(prompt.topmost);
  EXPECT_EQ(prompt.result, DialogResult::No);
  EXPECT_TRUE(desktop.privileges.exitWindowsCalls.empty());
  EXPECT_FALSE(desktop.MappingExists(kMarker)) << "the terminate request ends it without a close, all the same";
}

TEST_F(StartSequence, RestartOnlyWithoutProductRewritesTheValueAndEnds) {
  SimProcess& agent = Start(L"firstnotstartbutrestart");
  EXPECT_EQ(Autostart(), std::nullopt) << "the Run key does not exist: the write fails quietly";
  desktop.registry.CreateKey(kRunKey);
  SimProcess& again = Start(L"firstnotstartbutrestart");
  EXPECT_EQ(Autostart(), "\"C:\\P\\velmor.exe\"");
  for (const SimProcess* each : {&agent, &again}) {
    EXPECT_TRUE(each->Ended());
  }
  ExpectOutcome(again, {.ended = true, .versionChecks = 0, .serviceRequests = 0, .trayPosts = 0, .switches = 0});
  EXPECT_TRUE(DialogTexts().empty());
}

TEST_F(StartSequence, RestartOnlyWithProductRunningPromptsAndEnds) {
  SetAutostart("\"C:\\Old\\velmor.exe\" 1");
  ProductUp();
  SimProcess& agent = Start(L"firstnotstartbutrestart");
  EXPECT_EQ(Autostart(), "\"C:\\P\\velmor.exe\" 1");
  ExpectOutcome(agent, {.ended = true, .versionChecks = 0, .serviceRequests = 0, .trayPosts = 0, .switches = 0});
  EXPECT_EQ(DialogTexts(), std::vector<std::wstring>{kRestartPromptText});
  EXPECT_EQ(agent.HandlesLeftAtExit(HandleKind::Mapping), 0) << "the close after the prompt released the marker";
}

TEST_F(StartSequence, OtherVersionMarkerCountsAsProductRunningAtInstallTime) {
  desktop.HoldExternalMapping(kOtherVersionMarkerB);
  SimProcess& agent = Start(L"firststart");
  ExpectOutcome(agent, {.ended = true, .versionChecks = 0, .serviceRequests = 0, .trayPosts = 0, .switches = 0});
  EXPECT_EQ(DialogTexts(), std::vector<std::wstring>{kRestartPromptText});
  EXPECT_EQ(agent.OpenHandles(HandleKind::Mapping), 0);
}

TEST_F(StartSequence, OtherVersionMarkerDoesNotCountAtLogon) {
  desktop.HoldExternalMapping(kOtherVersionMarkerA);
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  SimProcess& agent = Start(L"1");
  ExpectOutcome(agent, {.ended = false, .versionChecks = 1, .serviceRequests = 1, .trayPosts = 0, .switches = 0});
  EXPECT_TRUE(DialogTexts().empty());
}

TEST_F(StartSequence, ValueEndingInZeroEndsALogonStartAtOnceWhateverTheProduct) {
  for (const bool productUp : {false, true}) {
    SCOPED_TRACE(productUp ? "product up" : "no product");
    SimDesktop fresh;
    fresh.registry.SetString(kRunKey, kAutostartValue, "\"C:\\P\\velmor.exe\" 10");
    if (productUp) {
      fresh.StartProduct(ProductStart::Visible);
    }
    SimProcess& agent = fresh.LaunchAgent(CommandLine(L"1"), kAgentPath);
    fresh.AdvanceBy(kStartTick);
    EXPECT_TRUE(agent.Ended());
    EXPECT_TRUE(fresh.version.verifications.empty());
    EXPECT_TRUE(fresh.services.controls.empty());
    EXPECT_TRUE(fresh.switches.empty());
    EXPECT_TRUE(fresh.posts.empty());
    EXPECT_TRUE(fresh.registry.writes.empty());
    EXPECT_FALSE(fresh.MappingExists(kMarker));
    EXPECT_EQ(agent.InvalidHandleCloses(), 0);
    EXPECT_EQ(agent.HandlesLeftAtExit(HandleKind::RegistryKey), 0);
  }
}

TEST_F(StartSequence, ValueEndingInZeroThenSpaceDoesNotSwitchOff) {
  SetAutostart("\"C:\\P\\velmor.exe\" 0 ");
  ProductUp();
  SimProcess& agent = Start(L"1");
  ExpectOutcome(agent, {.ended = false, .versionChecks = 0, .serviceRequests = 0, .trayPosts = 0, .switches = 0});
}

TEST_F(StartSequence, LogonWithoutProductChecksAndStaysWithoutActivating) {
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  ServiceStartsProduct();
  SimProcess& agent = Start(L"1");
  ExpectOutcome(agent, {.ended = false, .versionChecks = 1, .serviceRequests = 1, .trayPosts = 0, .switches = 0});
  EXPECT_FALSE(Running(agent, AgentTimer::Activation));
  EXPECT_EQ(CaptionOf(agent), kAgentCaption);
  EXPECT_TRUE(agent.Sleeps().empty()) << "no activation attempt";
  EXPECT_TRUE(desktop.registry.writes.empty());
  desktop.AdvanceBy(10000);
  EXPECT_TRUE(TrayPosts().empty());
}

TEST_F(StartSequence, LogonWithProductSkipsTheChecksAndStays) {
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  ProductUp();
  SimProcess& agent = Start(L"1");
  ExpectOutcome(agent, {.ended = false, .versionChecks = 0, .serviceRequests = 0, .trayPosts = 0, .switches = 0});
  EXPECT_TRUE(agent.State()->productUp);
}

TEST_F(StartSequence, LogonWithTheValueMissingGoesOnAsALogon) {
  desktop.registry.CreateKey(kRunKey);
  SimProcess& agent = Start(L"anything");
  ExpectOutcome(agent, {.ended = false, .versionChecks = 1, .serviceRequests = 1, .trayPosts = 0, .switches = 0});
  EXPECT_TRUE(desktop.registry.writes.empty());
}

// A value longer than the read buffer is read whole: its "0" switches a logon start off, and the
// install-time rewrite keeps its tail.
TEST_F(StartSequence, LongValueSwitchesOffALogonAndKeepsItsTailAtInstallTime) {
  SetAutostart("\"C:\\" + std::string(2000, 'x') + "\\velmor.exe\" 10");
  SimProcess& logon = Start(L"1");
  ExpectOutcome(logon, {.ended = true, .versionChecks = 0, .serviceRequests = 0, .trayPosts = 0, .switches = 0});
  SimProcess& installer = Start(L"firstnotstartbutrestart");
  EXPECT_TRUE(installer.Ended());
  EXPECT_EQ(Autostart(), "\"C:\\P\\velmor.exe\" 10");
}

TEST_F(StartSequence, KeywordsAreMatchedInAnyCase) {
  SetAutostart("\"C:\\Old\\velmor.exe\" 1");
  SimProcess& restartOnly = Start(L"FirstNotStartButRestart");
  EXPECT_TRUE(restartOnly.Ended());
  EXPECT_EQ(Autostart(), "\"C:\\P\\velmor.exe\" 1");

  SetAutostart("\"C:\\Old\\velmor.exe\" 2");
  ServiceStartsProduct();
  SimProcess& firstStart = Start(L"FIRSTSTART");
  EXPECT_EQ(Autostart(), "\"C:\\P\\velmor.exe\" 2");
  EXPECT_FALSE(firstStart.Ended());
  EXPECT_EQ(desktop.switches.size(), 1U) << "goes on as a user start: activates";
}

TEST_F(StartSequence, FirstStartAsTheSecondArgumentIsIgnored) {
  SetAutostart("\"C:\\Old\\velmor.exe\" 1");
  ServiceStartsProduct();
  SimProcess& agent = Start(L"1 firststart");
  EXPECT_EQ(Autostart(), "\"C:\\Old\\velmor.exe\" 1") << "a logon start rewrites nothing";
  ExpectOutcome(agent, {.ended = false, .versionChecks = 1, .serviceRequests = 1, .trayPosts = 0, .switches = 0});
}

TEST_F(StartSequence, RestartPromptAnsweredNoByAFirstAgentEndsWithoutActivation) {
  ProductUp();
  SimProcess& agent = Start(L"firststart");
  EXPECT_TRUE(agent.QuitRequested());
  EXPECT_TRUE(agent.Ended());
  EXPECT_TRUE(desktop.switches.empty());
  EXPECT_TRUE(agent.Sleeps().empty());
}

TEST_F(StartSequence, RestartPromptAnsweredNoByASecondAgentStillMakesOneActivationAttempt) {
  SimProcess& first = StartResidentFirstAgent();
  ProductUp();
  SimProcess& second = Start(L"firststart");
  EXPECT_EQ(DialogTexts(), std::vector<std::wstring>{kRestartPromptText});
  EXPECT_TRUE(second.Ended());
  ASSERT_EQ(desktop.switches.size(), 1U);
  EXPECT_EQ(desktop.switches[0].fromProcess, second.Id());
  EXPECT_EQ(second.Sleeps().size(), 1U);
  EXPECT_EQ(second.HandlesLeftAtExit(HandleKind::Mapping), 0) << "its activation closed it";
  EXPECT_FALSE(first.Ended());
  EXPECT_TRUE(desktop.MappingExists(kMarker));
}

TEST_F(StartSequence, RestartPromptAnsweredYesRebootsAndEndsWithoutActivation) {
  SimProcess& first = StartResidentFirstAgent();
  ProductUp();
  desktop.dialogs.Answer(DialogResult::Yes);
  SimProcess& second = Start(L"firststart");
  EXPECT_TRUE(second.Ended());
  ASSERT_EQ(desktop.privileges.exitWindowsCalls.size(), 1U);
  EXPECT_EQ(desktop.privileges.exitWindowsCalls[0].flags, 2U);
  EXPECT_TRUE(desktop.switches.empty());
  EXPECT_EQ(second.HandlesLeftAtExit(HandleKind::Token), 1) << "the token is left to the process's end";
  EXPECT_FALSE(first.Ended());
}

// A marker that exists but cannot be opened (squatted with a restrictive security descriptor, or
// made by an agent with other rights) is held by another agent: the start takes the second agent's
// road instead of ending silently. The same holds for the other versions' markers.
TEST_F(StartSequence, MarkerThatCannotBeOpenedMeansAnotherAgentHoldsIt) {
  desktop.HoldExternalMapping(kMarker, /*restricted=*/true);
  SimProduct& product = desktop.StartProduct(ProductStart::Hidden, 100);
  SimProcess& second = Start();
  EXPECT_EQ(CaptionOf(second), "Shell");
  ExpectOutcome(second, {.ended = true, .versionChecks = 0, .serviceRequests = 0, .trayPosts = 1, .switches = 1});

  // Without the product window, the watchdog takes over: the successor names itself and stays. A
  // start that saw no agent named at its start looks again in its first attempts, and takes over from
  // the agent it found resident there.
  product.Close();
  SimProcess& earlier = Start();
  desktop.AdvanceBy(kWatchdogMs - 2000);  // the earlier start's watchdog falls due a second after the next
  SimProcess& successor = Start();
  EXPECT_TRUE(Running(successor, AgentTimer::Watchdog));
  desktop.AdvanceBy(3000);
  EXPECT_EQ(CaptionOf(earlier), kAgentCaption);
  desktop.AdvanceBy(kWatchdogMs - 2000);
  EXPECT_TRUE(earlier.Ended());
  EXPECT_FALSE(successor.Ended());
  EXPECT_EQ(CaptionOf(successor), kAgentCaption);
  EXPECT_EQ(ServiceRequests(), 2U);
  EXPECT_EQ(successor.OpenHandles(HandleKind::Mapping), 0);

  // The squatter lets go. The successor, resident without a marker, owns the residence lock: a later
  // start makes the marker afresh and is a second agent all the same, and one agent stays.
  desktop.ReleaseExternalMapping(kMarker);
  SimProcess& later = Start();
  EXPECT_EQ(CaptionOf(later), "Shell");
  EXPECT_TRUE(Running(later, AgentTimer::Watchdog));
  desktop.AdvanceBy(kWatchdogMs + kIntervalMs);
  EXPECT_TRUE(successor.Ended());
  EXPECT_FALSE(later.Ended());
  EXPECT_EQ(CaptionOf(later), kAgentCaption);
  EXPECT_TRUE(later.HoldsMapping(kMarker));

  desktop.HoldExternalMapping(kOtherVersionMarkerA, /*restricted=*/true);
  SimProcess& installer = Start(L"firstnotstartbutrestart");
  EXPECT_TRUE(installer.Ended());
  EXPECT_EQ(DialogTexts(), std::vector<std::wstring>{kRestartPromptText}) << "another version runs";

  // Any other failure to create the marker still ends the agent silently.
  desktop.failMappingCreation = true;
  SimProcess& failed = Start();
  EXPECT_TRUE(failed.Ended());
  EXPECT_EQ(CaptionOf(failed), "Shell");
  EXPECT_TRUE(failed.DirectoryChanges().empty());
  EXPECT_EQ(DialogTexts().size(), 1U);

  // An object of another kind under the marker's name is taken as another agent's marker too: the
  // install-time rewrite still runs.
  desktop.mappingCreationError = win32::kErrorInvalidHandle;
  SetAutostart("\"C:\\Old\\velmor.exe\" 0");
  SimProcess& install = Start(L"firstnotstartbutrestart");
  EXPECT_EQ(Autostart(), "\"C:\\P\\velmor.exe\" 0");
  EXPECT_TRUE(install.Ended());
  EXPECT_EQ(CaptionOf(install), "Shell");
}

// An elevated agent (the installer's) does its start work but never stays resident: commands from
// the product, at the user's rights, could not reach it, nor could the user's later starts take
// over from it.
TEST_F(StartSequence, ElevatedAgentDoesItsStartWorkAndEnds) {
  SetAutostart("\"C:\\Old\\velmor.exe\" 1");
  ServiceStartsProduct();
  SimProcess& installer = Launch(L"firststart");
  installer.elevated = true;
  desktop.AdvanceBy(kStartTick);
  EXPECT_EQ(Autostart(), "\"C:\\P\\velmor.exe\" 1");
  ExpectOutcome(installer, {.ended = true, .versionChecks = 1, .serviceRequests = 1, .trayPosts = 1, .switches = 1});
  EXPECT_FALSE(desktop.MappingExists(kMarker));

  desktop.Products().front()->Close();
  desktop.services.onAccepted = nullptr;
  SimProcess& logon = Launch(L"1");
  logon.elevated = true;
  desktop.AdvanceBy(kStartTick);
  ExpectOutcome(logon, {.ended = true, .versionChecks = 2, .serviceRequests = 2, .trayPosts = 1, .switches = 1});

  // Beside a resident agent at the user's rights it never takes over; its attempts end in time.
  SimProcess& first = Start(L"1");
  SimProcess& second = Launch();
  second.elevated = true;
  desktop.AdvanceBy(kStartTick);
  EXPECT_FALSE(Running(second, AgentTimer::Watchdog));
  EXPECT_TRUE(desktop.AdvanceUntil([&] { return second.Ended(); }, kWatchdogMs + 10000));
  EXPECT_FALSE(first.Ended());
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), first.AgentWindow());
}

TEST_F(StartSequence, FailedVersionGateShowsItsMessageAndEnds) {
  desktop.version = {6, 2, 3, 0, {}};
  SimProcess& agent = Start();
  ExpectOutcome(agent, {.ended = true, .versionChecks = 1, .serviceRequests = 0, .trayPosts = 0, .switches = 0});
  ASSERT_EQ(desktop.dialogs.shown.size(), 1U);
  EXPECT_EQ(desktop.dialogs.shown[0].kind, DialogKind::Information);
  EXPECT_EQ(desktop.dialogs.shown[0].text, kOsGateText);
  EXPECT_FALSE(desktop.MappingExists(kMarker));
}

TEST_F(StartSequence, VersionGateIsSixPointThree) {
  desktop.version = {6, 3, 0, 0, {}};
  SimProcess& agent = Start(L"1");
  EXPECT_FALSE(agent.Ended());
  ASSERT_EQ(desktop.version.verifications.size(), 1U);
  const sim::VerifyRecord& check = desktop.version.verifications[0];
  EXPECT_EQ(check.info.dwMajorVersion, 6U);
  EXPECT_EQ(check.info.dwMinorVersion, 3U) << "how it is asked: Environment";
}

TEST_F(StartSequence, FailedServiceRequestShowsItsErrorAndEnds) {
  desktop.services.serviceInstalled = false;
  SimProcess& agent = Start();
  ExpectOutcome(agent, {.ended = true, .versionChecks = 1, .serviceRequests = 0, .trayPosts = 0, .switches = 0});
  ASSERT_EQ(desktop.dialogs.shown.size(), 1U);
  EXPECT_EQ(desktop.dialogs.shown[0].kind, DialogKind::Error);
  EXPECT_EQ(desktop.dialogs.shown[0].text, kServiceNotInstalledText);
  EXPECT_FALSE(desktop.MappingExists(kMarker));
}

TEST_F(StartSequence, ServiceThatNeverComesUpHoldsTheAgentForItsRetries) {
  desktop.services.ScriptControlAnswers({}, win32::kErrorServiceNotActive);
  SimProcess& agent = Launch(L"1");
  desktop.AdvanceBy(kStartTick);
  EXPECT_TRUE(agent.Ended());
  EXPECT_EQ(ServiceRequests(), kServiceCalls) << "for all its retries (their timing: ServiceRequest)";
  EXPECT_EQ(DialogTexts(), std::vector<std::wstring>{kServiceNotStartedText});
}

TEST_F(StartSequence, ServiceComingUpAfterTwoRefusalsIsAskedThreeTimes) {
  desktop.services.ScriptControlAnswers({win32::kErrorServiceNotActive, win32::kErrorServiceCannotAcceptCtrl});
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  SimProcess& agent = Start(L"1");
  EXPECT_FALSE(agent.Ended());
  EXPECT_EQ(ServiceRequests(), 3U);
  EXPECT_TRUE(DialogTexts().empty());
}

// --- A second agent ------------------------------------------------------------------------------

TEST_F(StartSequence, SecondAgentWithProductWindowActivatesAndEnds) {
  SimProcess& first = StartResidentFirstAgent();
  desktop.StartProduct(ProductStart::Hidden, 100);
  SimProcess& second = Start();
  EXPECT_EQ(CaptionOf(second), "Shell");
  ExpectOutcome(second, {.ended = true, .versionChecks = 0, .serviceRequests = 0, .trayPosts = 1, .switches = 1});
  EXPECT_EQ(desktop.switches[0].fromProcess, second.Id());
  EXPECT_FALSE(first.Ended());
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), first.AgentWindow());
  EXPECT_EQ(desktop.MappingHandles(kMarker), 1);
  EXPECT_TRUE(desktop.dialogs.shown.empty());
}

TEST_F(StartSequence, SecondAgentWithoutProductWindowRetriesUntilTheWatchdogFires) {
  SimProcess& first = StartResidentFirstAgent();
  SimProcess& second = Start();
  const Ms armedAt = desktop.Now() - kGraceMs;  // the first attempt slept after the watchdog was armed
  EXPECT_TRUE(Running(second, AgentTimer::Watchdog));
  EXPECT_EQ(desktop.TimerInterval(second.AgentWindow(), AgentTimer::Watchdog), kWatchdogMs);
  EXPECT_EQ(CaptionOf(second), "Shell");
  EXPECT_EQ(VersionChecks(), 0U);
  EXPECT_EQ(ServiceRequests(), 0U);

  ASSERT_TRUE(desktop.AdvanceUntil([&] { return first.Ended(); }, kWatchdogMs + 10000));
  EXPECT_EQ(first.EndedAt(), armedAt + kWatchdogMs);
  std::vector<Ms> attempts;
  for (const sim::SleepRecord& sleep : second.Sleeps()) {
    if (sleep.startedAt < first.EndedAt()) {
      attempts.push_back(sleep.startedAt);
    }
  }
  ASSERT_EQ(attempts.size(), kAttemptLimit) << "one attempt at start, then one a second";
  EXPECT_EQ(attempts[1] - attempts[0], kGraceMs + kIntervalMs)
      << "the timer starts counting after the first attempt's pause";
  for (std::size_t i = 2; i < attempts.size(); ++i) {
    EXPECT_EQ(attempts[i] - attempts[i - 1], kIntervalMs);
  }
  EXPECT_TRUE(TrayPosts().empty());
}

// --- The trace that tells support which road a start took ---------------------------------------

// Whether one of the agent's trace lines says `decision`, field for field; every line starts with its name and id.
::testing::AssertionResult Traced(const SimProcess& agent, const std::string& decision) {
  const std::string prefix = "velmor " + std::to_string(agent.Id()) + ": ";
  for (const std::string& line : agent.TraceLines()) {
    if (!line.starts_with(prefix)) {
      return ::testing::AssertionFailure() << "a line without the agent's name and id: " << line;
    }
  }
  return SaidAmong(agent.TraceLines(), decision);
}

TEST_F(StartSequence, TraceNamesTheRoadEachStartTook) {
  {
    SCOPED_TRACE("a user start that brings the product up and stays");
    ServiceStartsProduct();
    SimProcess& agent = Start();
    EXPECT_TRUE(Traced(agent, "start arg=none marker=new product=absent"));
    EXPECT_TRUE(Traced(agent, "version-gate passed=yes"));
    EXPECT_TRUE(Traced(agent, "service attempts=1 result=0"));
    EXPECT_TRUE(Traced(agent, "result=shown"));
    EXPECT_TRUE(Traced(agent, "resident"));
    EXPECT_FALSE(Traced(agent, "end "));

    SimProcess& second = Start();
    EXPECT_TRUE(Traced(second, "marker=existed product=visible"));
    EXPECT_TRUE(Traced(second, "road second-agent=bring-product-forward"));
    EXPECT_TRUE(Traced(second, "end reason=activation-done"));

    SendCommand(desktop, agent.AgentWindow(), peers::QuitCommand());
    EXPECT_TRUE(Traced(agent, "command wparam=0 lparam=0 action=quit"));
    EXPECT_TRUE(Traced(agent, "end reason=quit-command"));
  }
  {
    SCOPED_TRACE("a logon start switched off by the autostart value");
    SimDesktop fresh;
    fresh.registry.SetString(kRunKey, kAutostartValue, "\"C:\\P\\velmor.exe\" 0");
    SimProcess& agent = fresh.LaunchAgent(CommandLine(L"1"), kAgentPath);
    fresh.AdvanceBy(kStartTick);
    EXPECT_TRUE(Traced(agent, "start arg=other"));
    EXPECT_TRUE(Traced(agent, "end reason=switched-off"));
  }
  {
    SCOPED_TRACE("a marker squatted by another program");
    SimDesktop fresh;
    fresh.StartProduct(ProductStart::Visible);
    fresh.HoldExternalMapping(kMarker, /*restricted=*/true);
    SimProcess& agent = fresh.LaunchAgent(CommandLine(L""), kAgentPath);
    fresh.AdvanceBy(kStartTick);
    EXPECT_TRUE(Traced(agent, "marker=denied"));
    EXPECT_TRUE(Traced(agent, "road second-agent=bring-product-forward"));
  }
}

// Any program in the session can take the residence lock's name: hold a mutex of that name, or make
// an object of another kind under it. With no agent answering under the agent's name, that switches
// nobody off: a logon start stays resident after asking the service, and a user start brings the
// product up.
TEST_F(StartSequence, ResidenceLockTakenByAProgramSwitchesNobodyOff) {
  for (const bool otherKind : {false, true}) {
    SCOPED_TRACE(otherKind ? "an object of another kind" : "a mutex held");
    SimDesktop fresh;
    fresh.registry.SetString(kRunKey, kAutostartValue, "\"C:\\P\\velmor.exe\" 1");
    if (otherKind) {
      fresh.HoldExternalMapping(peers::kResidenceLockName);
    } else {
      SimProcess& squatter = fresh.CreateBareProcess(L"squatter", "C:\\S\\squatter.exe");
      fresh.Call(squatter, [&] { squatter.WaitForSingleObject(squatter.CreateMutexA(peers::kResidenceLockName), 0); });
    }
    SimProcess& logon = fresh.LaunchAgent(CommandLine(L"1"), kAgentPath);
    fresh.AdvanceBy(kWatchdogMs + 10000);
    EXPECT_FALSE(logon.Ended());
    EXPECT_EQ(fresh.Caption(logon.AgentWindow()), kAgentCaption);
    EXPECT_EQ(fresh.services.controls.size(), 1U);
    EXPECT_TRUE(Traced(logon, "marker=new-lock-held-by-no-agent"));

    SendCommand(fresh, logon.AgentWindow(), peers::QuitCommand());
    fresh.services.onAccepted = [&fresh] { fresh.StartProduct(ProductStart::Hidden, 0); };
    SimProcess& user = fresh.LaunchAgent(CommandLine(L""), kAgentPath);
    fresh.AdvanceBy(5000);
    EXPECT_EQ(fresh.switches.size(), 1U) << "the product brought up";
    EXPECT_FALSE(user.Ended());
    EXPECT_TRUE(fresh.Faults().empty());
  }
}

// Where nobody sees the desktop (LocalSystem in session 0, as an installer's deferred action or a
// deployment tool runs it), no product window can be found and nobody could reach the agent: each
// start does its work and ends by itself. So does LocalSystem on the user's desktop; the built-in
// Administrator with UAC off, whose rights every program of that desktop shares, stays.
TEST_F(StartSequence, StartsThatNobodyCouldReachDoTheirWorkAndEnd) {
  for (const wchar_t* argument : {L"firststart", L"", L"1"}) {
    SCOPED_TRACE(argument);
    SimDesktop fresh;
    fresh.registry.SetString(kRunKey, kAutostartValue, "\"C:\\Old\\velmor.exe\" 1");
    SimProcess& unattended = fresh.LaunchAgent(CommandLine(argument), kAgentPath);
    unattended.interactiveWindowStation = false;
    EXPECT_TRUE(fresh.AdvanceUntil([&] { return unattended.Ended(); }, 5000));
    EXPECT_TRUE(Traced(unattended, "end reason=non-interactive"));
    EXPECT_EQ(fresh.services.controls.size(), 1U);
    EXPECT_FALSE(fresh.MappingExists(kMarker));
    EXPECT_EQ(fresh.MutexOwner(peers::kResidenceLockName), 0U);
    if (std::wstring_view(argument) == L"firststart") {
      EXPECT_EQ(fresh.registry.StringValue(kRunKey, kAutostartValue), "\"C:\\P\\velmor.exe\" 1");
    }
    EXPECT_TRUE(fresh.Faults().empty());
  }
  SetAutostart("\"C:\\P\\velmor.exe\" 1");
  SimProcess& system = Launch(L"1");
  system.integrityLevel = 0x4000;
  desktop.AdvanceBy(kStartTick);
  EXPECT_TRUE(Traced(system, "end reason=elevated"));
  SimProcess& uacOff = Launch(L"1");
  uacOff.integrityLevel = 0x3000;
  desktop.AdvanceBy(kStartTick);
  EXPECT_FALSE(uacOff.Ended());
}

// The registry holds the value in UTF-16. Characters that the ANSI code page cannot hold survive
// the rewrite and reach both roads that read the value; a value too long to be read whole is left
// as it is.
TEST_F(StartSequence, ValuesBeyondTheCodePageOrTheReadLimitAreNeverCorrupted) {
  {
    SCOPED_TRACE("a value longer than any command line, switched off");
    const std::string tooLong = "\"C:\\" + std::string(70000, 'x') + "\\velmor.exe\" 0";
    SetAutostart(tooLong);
    SimProcess& installer = Start(L"firstnotstartbutrestart");
    EXPECT_TRUE(installer.Ended());
    EXPECT_TRUE(desktop.registry.writes.empty());
    EXPECT_EQ(Autostart(), tooLong);
    EXPECT_TRUE(Traced(installer, "value-read=234"));
    EXPECT_TRUE(Traced(installer, "rewritten=no"));
  }
  {
    SCOPED_TRACE("a value whose read the key's security refuses, switched off");
    SetAutostart("\"C:\\Old place\\velmor.exe\" 0");
    desktop.registry.denyReadAccess = true;
    SimProcess& installer = Start(L"firstnotstartbutrestart");
    desktop.registry.denyReadAccess = false;
    EXPECT_TRUE(installer.Ended());
    EXPECT_EQ(Autostart(), "\"C:\\Old place\\velmor.exe\" 0");
    EXPECT_TRUE(Traced(installer, "value-read=5"));
    EXPECT_TRUE(Traced(installer, "rewritten=no"));
  }
  {
    SCOPED_TRACE("a tail beyond the code page");
    SetAutostart("\"C:\\Old\\velmor.exe\" 1с");
    Start(L"firstnotstartbutrestart");
    EXPECT_EQ(Autostart(), "\"C:\\P\\velmor.exe\" 1с");
    SimProcess& logon = desktop.LaunchAgent(sim::WideFromUtf8(*Autostart()), kAgentPath);
    desktop.AdvanceBy(kStartTick);
    ExpectOutcome(logon, {.ended = false, .versionChecks = 1, .serviceRequests = 1, .trayPosts = 0, .switches = 0});
  }
  {
    SCOPED_TRACE("an agent in a folder beyond the code page");
    const char* const path = "C:\\Программы\\velmor.exe";
    SimDesktop fresh;
    fresh.registry.SetString(kRunKey, kAutostartValue, "\"C:\\Old\\velmor.exe\" 0");
    SimProcess& installer = fresh.LaunchAgent(CommandLine(L"firstnotstartbutrestart"), path);
    fresh.AdvanceBy(kStartTick);
    const std::optional<std::string> stored = fresh.registry.StringValue(kRunKey, kAutostartValue);
    EXPECT_EQ(stored, "\"C:\\Программы\\velmor.exe\" 0");
    EXPECT_EQ(installer.CurrentDirectory(), "C:\\Программы\\");
    SimProcess& logon = fresh.LaunchAgent(sim::WideFromUtf8(stored.value_or("")), path);
    fresh.AdvanceBy(kStartTick);
    EXPECT_TRUE(logon.Ended()) << "switched off";
  }
}

// An install-time start where nobody can answer (an installer service's non-interactive window
// station, where an install's elevated actions run on Windows) never waits on a dialog: the restart
// prompt counts as No, the version gate's and the service request's dialogs are not shown, the trace
// says so, and the agent ends. Where the user sees the desktop, the same start asks as before.
TEST_F(StartSequence, InstallTimeStartWhereNobodyCanAnswerNeverWaitsOnADialog) {
  ProductUp();
  for (const wchar_t* argument : {L"firstnotstartbutrestart", L"firststart"}) {
    SCOPED_TRACE(argument);
    SetAutostart("\"C:\\Old\\velmor.exe\" 1");
    SimProcess& unattended = Launch(argument);
    unattended.interactiveWindowStation = false;  // a dialog there is a fault of the simulated desktop
    desktop.AdvanceBy(kStartTick);
    EXPECT_TRUE(unattended.Ended());
    EXPECT_TRUE(Traced(unattended, "dialog shown=no window-station=non-interactive"));
    EXPECT_TRUE(Traced(unattended, "restart-prompt reboot-asked=no"));
    EXPECT_TRUE(Traced(unattended, "end reason=restart-prompt"));
    EXPECT_EQ(Autostart(), "\"C:\\P\\velmor.exe\" 1") << "the install-time rewrite is done all the same";
    EXPECT_TRUE(DialogTexts().empty());
  }
  EXPECT_TRUE(desktop.privileges.exitWindowsCalls.empty());
  EXPECT_TRUE(desktop.switches.empty());
  EXPECT_EQ(VersionChecks() + ServiceRequests(), 0U);

  SimProcess& attended = Start(L"firstnotstartbutrestart");
  EXPECT_TRUE(attended.Ended());
  EXPECT_EQ(DialogTexts(), std::vector<std::wstring>{kRestartPromptText});
  EXPECT_TRUE(Traced(attended, "restart-prompt reboot-asked=no"));

  // Nor do the version gate's and the service request's dialogs wait there: the agent ends at once.
  desktop.Products().front()->Close();
  desktop.services.serviceInstalled = false;
  SimProcess& noService = Launch(L"firststart");
  noService.interactiveWindowStation = false;
  desktop.AdvanceBy(kStartTick);
  EXPECT_TRUE(Traced(noService, "end reason=service-request-failed"));
  desktop.version = {6, 1, 0, 0, {}};
  SimProcess& oldWindows = Launch(L"firststart");
  oldWindows.interactiveWindowStation = false;
  desktop.AdvanceBy(kStartTick);
  EXPECT_TRUE(Traced(oldWindows, "end reason=os-not-supported"));
  EXPECT_EQ(DialogTexts().size(), 1U) << "the attended start's prompt alone";
}

}  // namespace
}  // namespace velmor::test
