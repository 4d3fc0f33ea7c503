// velmorctl.exe against the real agent: its usage errors, each command with and without a resident
// agent, and a quit that times out while the agent is busy in its service request.
#include <string>
#include <vector>

#include "tests/e2e/AgentTest.h"

namespace velmor::e2e {
namespace {

constexpr DWORD kDone = 0;
constexpr DWORD kNoAgent = 1;
constexpr DWORD kUsageError = 2;
constexpr DWORD kTimedOut = 3;

class VelmorctlTest : public AgentTest {
 protected:
  static ConsoleRun Ctl(const std::string& arguments) {
    return RunConsoleProgram(ExecutableFolder() + "velmorctl.exe", arguments, 60s);
  }

  static void ExpectExit(const std::string& arguments, DWORD expected) {
    const ConsoleRun run = Ctl(arguments);
    EXPECT_EQ(run.exitCode, expected) << "velmorctl " << arguments << " printed:\n" << run.output;
  }
};

TEST_F(VelmorctlTest, WithoutAgentEveryCommandSaysNoAgentAndBadUsageIsRejected) {
  ExpectExit("status", kNoAgent);
  ExpectExit("quit", kNoAgent);
  ExpectExit("open home", kNoAgent);
  for (const char* bad : {"", "frobnicate", "status now", "open", "open nowhere", "quit --wait", "quit --wait x",
                          "quit --wait -1", "quit --wait 86401", "quit --linger 5"}) {
    ExpectExit(bad, kUsageError);
  }
  const ConsoleRun help = Ctl("help");
  EXPECT_EQ(help.exitCode, kDone);
  EXPECT_NE(help.output.find("exit codes"), std::string::npos) << help.output;
}

TEST_F(VelmorctlTest, DrivesResidentAgent) {
  StartProductWindow("--visible");
  ChildProcess& agent = StartAgent("1");
  ASSERT_NE(WaitForNamedAgent(agent), nullptr);

  const ConsoleRun status = Ctl("status");
  EXPECT_EQ(status.exitCode, kDone);
  EXPECT_NE(status.output.find("process id: " + std::to_string(agent.Id()) + "\n"), std::string::npos) << status.output;
  EXPECT_NE(status.output.find("image path: " + AgentPath()), std::string::npos) << status.output;

  ExpectExit("open contact", kDone);
  EXPECT_TRUE(WaitUntil([this] { return !LogLines(UrlLog()).empty(); }, kStartBound));
  EXPECT_EQ(LogLines(UrlLog()), std::vector<std::string>{std::string(VELMOR_WEB_SITE) + "/contact"});

  // When quit returns done, the agent's process has ended.
  ExpectExit("quit --wait 20", kDone);
  EXPECT_EQ(agent.WaitForExit(0ms), 0U);
  ExpectExit("status", kNoAgent);
}

// While the agent retries its service request it handles no command: the quit waits in its queue.
TEST_F(VelmorctlTest, QuitTimesOutWhileAgentIsBusyAndTakesEffectAfterwards) {
  InstallService();
  ChildProcess& agent = StartAgent("1");
  ASSERT_NE(WaitForNamedAgent(agent), nullptr);

  ExpectExit("quit --wait 1", kTimedOut);
  EXPECT_TRUE(agent.IsRunning());
  ASSERT_EQ(StartServiceStandin(), 0U);
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U) << "the queued quit was not handled";
  ExpectExit("status", kNoAgent);
}

}  // namespace
}  // namespace velmor::e2e
