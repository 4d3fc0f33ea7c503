// The request to the product service, through velmor.exe: every way it can fail shows its text,
// and a service that comes up within the retries is asked exactly once.
#include <chrono>

#include "peers/AgentContract.h"
#include "tests/e2e/AgentTest.h"

namespace velmor::e2e {
namespace {

using ServiceRequestTest = AgentTest;

TEST_F(ServiceRequestTest, ServiceNotInstalledShowsReinstallText) {
  ChildProcess& agent = StartAgent("");
  ExpectOkDialogThenExit(agent, L"Error", L"Tessaly service is not installed! \n\nTry to reinstall the product.");
}

TEST_F(ServiceRequestTest, ServiceNeverStartedShowsRestartTextAfterRetries) {
  InstallService();
  const auto started = std::chrono::steady_clock::now();
  ChildProcess& agent = StartAgent("1");
  const std::optional<DialogContent> dialog = WaitForDialog(agent.Id(), 60s);
  const auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
  ASSERT_TRUE(dialog.has_value()) << "no error dialog";
  // About 200 retries, 100 ms apart.
  EXPECT_GE(waited.count(), 18) << "the agent gave up too early";
  EXPECT_EQ(dialog->caption, L"Error");
  EXPECT_EQ(WithLineFeeds(dialog->text), L"Tessaly service was not started! \n\nTry to restart the computer.");
  AnswerDialog(dialog->window, IDOK);
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U);
  EXPECT_EQ(CountLines(ServiceLog(), "control"), 0U);
}

TEST_F(ServiceRequestTest, ServiceStartedDuringRetriesTakesExactlyOneRequest) {
  InstallService();
  ChildProcess& agent = StartAgent("1");
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr);
  // The agent is now retrying against the stopped service; start it about two seconds later.
  ::Sleep(2000);
  ASSERT_EQ(StartServiceStandin(), 0U);

  ASSERT_TRUE(WaitUntil([this] { return CountLines(ServiceLog(), "control 133") >= 1; }, kStartBound));
  // The agent settles as a resident agent with no dialog: a quit sent now is handled at once.
  const std::optional<DialogContent> dialog = WaitForDialog(agent.Id(), 1500ms);
  EXPECT_FALSE(dialog.has_value()) << "unexpected dialog";
  EXPECT_EQ(QuitByCommand(window, agent), 0U);
  EXPECT_EQ(CountLines(ServiceLog(), "control"), 1U);
  EXPECT_EQ(CountLines(ServiceLog(), "control 133"), 1U);
}

// The stand-in ends its own process inside the handler: the control call fails with 109.
TEST_F(ServiceRequestTest, HandlerFailureShowsControlServiceErrorWithCode) {
  InstallService("--on-control die");
  ASSERT_EQ(StartServiceStandin(), 0U);
  ChildProcess& agent = StartAgent("1");
  ExpectOkDialogThenExit(agent, L"Error", L"Control Service failed with error 109");
  EXPECT_EQ(CountLines(ServiceLog(), "control 133"), 1U);
}

}  // namespace
}  // namespace velmor::e2e
