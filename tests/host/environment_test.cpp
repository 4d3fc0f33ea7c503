// The checks before the start goes on: the version gate, another running product version, and the
// restart prompt with its reboot.
#include "integration/Environment.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/host/AgentScenario.h"

namespace velmor::test {
namespace {

class Environment : public ::testing::Test {
 protected:
  bool SupportedOn(std::uint32_t major, std::uint32_t minor, std::uint16_t servicePack) {
    desktop.version.major = major;
    desktop.version.minor = minor;
    desktop.version.servicePackMajor = servicePack;
    return IsOsSupported(agent);
  }

  SimDesktop desktop;
  SimProcess& agent = desktop.CreateBareProcess(L"\"velmor.exe\"", kAgentPath);
};

TEST_F(Environment, VersionGateIsSixPointThreeComparedMajorFirst) {
  EXPECT_FALSE(SupportedOn(5, 1, 3));
  EXPECT_FALSE(SupportedOn(6, 1, 1));
  EXPECT_FALSE(SupportedOn(6, 2, 0));
  EXPECT_FALSE(SupportedOn(6, 2, 9)) << "a service pack does not lift 6.2";
  EXPECT_TRUE(SupportedOn(6, 3, 0));
  EXPECT_TRUE(SupportedOn(10, 0, 0));
  EXPECT_TRUE(SupportedOn(11, 0, 0)) << "a higher major passes whatever its minor";
}

TEST_F(Environment, VersionGateAsksForMajorMinorAndServicePackEachAtLeast) {
  ASSERT_TRUE(IsVersionAtLeast(agent, 6, 3, 0));
  ASSERT_EQ(desktop.version.verifications.size(), 1U);
  const sim::VerifyRecord& asked = desktop.version.verifications[0];
  EXPECT_EQ(asked.info.dwOSVersionInfoSize, 284U);
  EXPECT_EQ(asked.info.dwMajorVersion, 6U);
  EXPECT_EQ(asked.info.dwMinorVersion, 3U);
  EXPECT_EQ(asked.info.wServicePackMajor, 0U);
  EXPECT_EQ(asked.typeMask, 0x23U);
  // VER_GREATER_EQUAL (3) in the three-bit field of each type bit: minor (bit 0), major (bit 1),
  // service pack major (bit 5).
  EXPECT_EQ(asked.conditionMask, (3ULL << 0) | (3ULL << 3) | (3ULL << 15));
}

TEST_F(Environment, EitherOtherVersionMarkerMeansAnotherVersionRuns) {
  EXPECT_FALSE(IsOtherVersionRunning(agent));
  desktop.HoldExternalMapping(kOtherVersionMarkerB);
  EXPECT_TRUE(IsOtherVersionRunning(agent)) << "the second marker alone is enough";
  desktop.HoldExternalMapping(kOtherVersionMarkerA);
  EXPECT_TRUE(IsOtherVersionRunning(agent));
  desktop.ReleaseExternalMapping(kOtherVersionMarkerB);
  EXPECT_TRUE(IsOtherVersionRunning(agent));
  EXPECT_EQ(agent.OpenHandles(HandleKind::Mapping), 0) << "a marker is only tested for, never kept";
  EXPECT_EQ(desktop.MappingHandles(kOtherVersionMarkerA), 1);
}

TEST_F(Environment, RebootEnablesTheShutdownPrivilegeThenAsksForARestart) {
  EXPECT_TRUE(RebootComputer(agent));
  EXPECT_EQ(desktop.privileges.tokenAccessRequested, std::vector<std::uint32_t>{0x28});
  EXPECT_EQ(desktop.privileges.privilegeLookups, std::vector<std::string>{"SeShutdownPrivilege"});
  ASSERT_EQ(desktop.privileges.adjustments.size(), 1U);
  const sim::AdjustRecord& adjusted = desktop.privileges.adjustments[0];
  EXPECT_FALSE(adjusted.disableAll);
  EXPECT_EQ(adjusted.privilege.PrivilegeCount, 1U);
  EXPECT_EQ(adjusted.privilege.Attributes, 2U);
  EXPECT_EQ(adjusted.privilege.PrivilegeLuid.LowPart, sim::kShutdownPrivilegeLuid);
  ASSERT_EQ(desktop.privileges.exitWindowsCalls.size(), 1U);
  EXPECT_EQ(desktop.privileges.exitWindowsCalls[0].flags, 2U);
  EXPECT_EQ(desktop.privileges.exitWindowsCalls[0].reason, 0U);
  EXPECT_EQ(agent.OpenHandles(HandleKind::Token), 1) << "the token is left to the process's end";
}

TEST_F(Environment, NoRebootIsAttemptedWithoutTheShutdownPrivilege) {
  desktop.privileges.shutdownPrivilegeAssignable = false;
  EXPECT_FALSE(RebootComputer(agent));
  EXPECT_EQ(desktop.privileges.adjustments.size(), 1U);
  EXPECT_TRUE(desktop.privileges.exitWindowsCalls.empty());

  desktop.privileges.shutdownPrivilegeAssignable = true;
  desktop.privileges.openTokenSucceeds = false;
  EXPECT_FALSE(RebootComputer(agent));
  EXPECT_EQ(desktop.privileges.privilegeLookups.size(), 1U) << "nothing after a token that could not be opened";
  EXPECT_TRUE(desktop.privileges.exitWindowsCalls.empty());
}

TEST_F(Environment, AFailedRebootRequestIsReportedAsSuch) {
  desktop.privileges.exitWindowsSucceeds = false;
  EXPECT_FALSE(RebootComputer(agent));
  EXPECT_EQ(desktop.privileges.exitWindowsCalls.size(), 1U);
}

// A reboot the user asked for that does not happen is reported with its error code, in the error
// dialog, before the agent ends.
TEST_F(Environment, FailedRebootTheUserAskedForIsReportedWithItsError) {
  struct Case {
    std::function<void(sim::SimPrivileges&)> fault;
    std::wstring text;
  };
  for (const Case& c : std::vector<Case>{
           {[](sim::SimPrivileges& p) { p.exitWindowsSucceeds = false; }, L"error 1314."},
           {[](sim::SimPrivileges& p) { p.shutdownPrivilegeAssignable = false; }, L"error 1300."},
           {[](sim::SimPrivileges& p) { p.openTokenSucceeds = false; }, L"error 5."},
       }) {
    SimDesktop fresh;
    fresh.HoldExternalMapping(kOtherVersionMarkerA);
    fresh.dialogs.Answer(DialogResult::Yes);
    c.fault(fresh.privileges);
    SimProcess& prompting = fresh.LaunchAgent(CommandLine(L"firststart"), kAgentPath);
    fresh.AdvanceBy(kStartTick);

    ASSERT_EQ(fresh.dialogs.shown.size(), 2U);
    EXPECT_EQ(fresh.dialogs.shown[1].kind, DialogKind::Error);
    EXPECT_EQ(fresh.dialogs.shown[1].text, L"The computer was not restarted: " + c.text);
    EXPECT_EQ(fresh.dialogs.shown[1].result, DialogResult::Ok) << "shown before the terminate request";
    EXPECT_TRUE(prompting.Ended());
  }
}

// The prompt only asks and reboots; the agent that showed it ends, through its one way to end,
// whatever the answer.
TEST_F(Environment, RestartPromptRebootsOnlyOnYesAndTheAgentEndsEitherWay) {
  struct Case {
    DialogResult answer;
    bool reboots;
  };
  for (const Case& c : {Case{DialogResult::Yes, true}, Case{DialogResult::No, false},
                        Case{DialogResult::Cancelled, false}, Case{DialogResult::NotShown, false}}) {
    SimDesktop fresh;
    fresh.HoldExternalMapping(kOtherVersionMarkerA);
    fresh.dialogs.Answer(c.answer);
    SimProcess& prompting = fresh.CreateBareProcess(L"\"velmor.exe\"", kAgentPath);
    bool answeredYes = !c.reboots;
    fresh.Call(prompting, [&] { answeredYes = ShowRestartPrompt(prompting); });
    EXPECT_EQ(answeredYes, c.reboots);
    EXPECT_FALSE(prompting.QuitRequested()) << "the caller decides how the agent ends";

    fresh.dialogs.Answer(c.answer);
    SimProcess& installer = fresh.LaunchAgent(CommandLine(L"firststart"), kAgentPath);
    fresh.AdvanceBy(kStartTick);
    EXPECT_EQ(fresh.privileges.exitWindowsCalls.size(), c.reboots ? 2U : 0U);
    EXPECT_TRUE(installer.Ended()) << "the application is asked to terminate";
    EXPECT_EQ(std::count_if(installer.TraceLines().begin(), installer.TraceLines().end(),
                            [](const std::string& line) { return SaysWhat(line, "end"); }),
              1)
        << "one end, with one trace line";
    EXPECT_EQ(std::any_of(installer.TraceLines().begin(), installer.TraceLines().end(),
                          [](const std::string& line) {
                            return SaysWhat(line, "dialog shown=no") && line.find(" error=") != std::string::npos;
                          }),
              c.answer == DialogResult::NotShown)
        << "a dialog that could not be made is traced";
    ASSERT_EQ(fresh.dialogs.shown.size(), 2U);
    EXPECT_EQ(fresh.dialogs.shown[1].kind, DialogKind::Confirmation);
    EXPECT_EQ(fresh.dialogs.shown[1].text, kRestartPromptText);
    EXPECT_TRUE(fresh.dialogs.shown[1].topmost);
  }
}

}  // namespace
}  // namespace velmor::test
