// The request to the product's service: the retries while it is not ready, the wording of every
// failure, and the handles closed on every path.
#include <string>
#include <vector>

#include "integration/ServiceRequest.h"
#include "tests/host/AgentScenario.h"

namespace velmor::test {
namespace {

class ServiceRequest : public ::testing::Test {
 protected:
  // Runs the request as a handler of a process, as the start sequence does.
  bool Kick() {
    bool accepted = false;
    desktop.Call(agent, [&] { accepted = KickService(agent); });
    return accepted;
  }
  [[nodiscard]] std::vector<std::wstring> ErrorTexts() const {
    std::vector<std::wstring> texts;
    for (const sim::DialogRecord& dialog : desktop.dialogs.shown) {
      EXPECT_EQ(dialog.kind, DialogKind::Error);
      texts.push_back(dialog.text);
    }
    return texts;
  }
  void ExpectAllClosed() const {
    EXPECT_EQ(agent.OpenHandles(HandleKind::ServiceManager), 0);
    EXPECT_EQ(agent.OpenHandles(HandleKind::Service), 0);
    EXPECT_EQ(agent.InvalidHandleCloses(), 0);
  }

  SimDesktop desktop;
  SimProcess& agent = desktop.CreateBareProcess(L"\"velmor.exe\"", kAgentPath);
};

TEST_F(ServiceRequest, AcceptedAtOnceIsAskedOnceWithTheProductsCodeAndTheLeastRights) {
  EXPECT_TRUE(Kick());
  ASSERT_EQ(desktop.services.controls.size(), 1U);
  EXPECT_EQ(desktop.services.controls[0].control, 133U);
  EXPECT_EQ(desktop.services.managerAccessRequested, std::vector<std::uint32_t>{0x0001});
  EXPECT_EQ(desktop.services.serviceAccessRequested, std::vector<std::uint32_t>{0x0100});
  EXPECT_EQ(desktop.services.serviceNamesRequested, std::vector<std::string>{"tsysrv"});
  EXPECT_TRUE(agent.Sleeps().empty());
  EXPECT_TRUE(ErrorTexts().empty());
  ExpectAllClosed();
  EXPECT_EQ(agent.Closes(), (std::vector<HandleKind>{HandleKind::Service, HandleKind::ServiceManager}))
      << "the service handle closes before the manager's";
}

TEST_F(ServiceRequest, NotActiveTwiceThenAcceptedTakesThreeCallsAndTwoPauses) {
  desktop.services.ScriptControlAnswers({1062, 1062});
  EXPECT_TRUE(Kick());
  ASSERT_EQ(desktop.services.controls.size(), 3U);
  EXPECT_EQ(desktop.services.controls[1].at - desktop.services.controls[0].at, kServicePauseMs);
  EXPECT_EQ(desktop.services.controls[2].at - desktop.services.controls[1].at, kServicePauseMs);
  EXPECT_EQ(agent.TotalSlept(), 2 * kServicePauseMs);
  EXPECT_TRUE(ErrorTexts().empty());
  ExpectAllClosed();
}

TEST_F(ServiceRequest, NeverActiveGivesUpAfterItsRetries) {
  desktop.services.ScriptControlAnswers({}, 1062);
  EXPECT_FALSE(Kick());
  ASSERT_EQ(desktop.services.controls.size(), kServiceCalls);
  EXPECT_EQ(desktop.services.controls.back().at - desktop.services.controls.front().at,
            (kServiceCalls - 1) * kServicePauseMs);
  EXPECT_EQ(agent.Sleeps().size(), kServiceCalls - 1);
  EXPECT_EQ(ErrorTexts(), std::vector<std::wstring>{kServiceNotStartedText});
  ExpectAllClosed();
}

TEST_F(ServiceRequest, CannotAcceptControlToTheEndGetsTheGenericTextWithItsCode) {
  desktop.services.ScriptControlAnswers({}, 1061);
  EXPECT_FALSE(Kick());
  EXPECT_EQ(desktop.services.controls.size(), kServiceCalls);
  EXPECT_EQ(ErrorTexts(), std::vector<std::wstring>{L"Control Service failed with error 1061"});
}

TEST_F(ServiceRequest, OtherFailuresAreNotRetriedAndReportTheLastCode) {
  desktop.services.ScriptControlAnswers({}, 5);
  EXPECT_FALSE(Kick());
  EXPECT_EQ(desktop.services.controls.size(), 1U);
  EXPECT_TRUE(agent.Sleeps().empty());
  EXPECT_EQ(ErrorTexts(), std::vector<std::wstring>{L"Control Service failed with error 5"});
  ExpectAllClosed();

  desktop.dialogs.shown.clear();
  desktop.services.controls.clear();
  desktop.services.ScriptControlAnswers({1062, 1061, 1062}, 1053);
  EXPECT_FALSE(Kick());
  EXPECT_EQ(desktop.services.controls.size(), 4U);
  EXPECT_EQ(ErrorTexts(), std::vector<std::wstring>{L"Control Service failed with error 1053"});
}

TEST_F(ServiceRequest, MissingServiceSaysNotInstalledOtherOpenFailuresSayOpenScm) {
  desktop.services.serviceInstalled = false;
  EXPECT_FALSE(Kick());
  EXPECT_EQ(ErrorTexts(), std::vector<std::wstring>{kServiceNotInstalledText});
  EXPECT_TRUE(desktop.services.controls.empty());
  ExpectAllClosed();

  desktop.dialogs.shown.clear();
  desktop.services.serviceInstalled = true;
  desktop.services.openServiceError = 5;
  EXPECT_FALSE(Kick());
  EXPECT_EQ(ErrorTexts(), std::vector<std::wstring>{L"Open SCM failed with error 5"});
  EXPECT_TRUE(desktop.services.controls.empty());
  ExpectAllClosed();
}

TEST_F(ServiceRequest, ManagerThatCannotBeOpenedIsReportedAndNothingElseIsTried) {
  desktop.services.openManagerError = 1722;
  EXPECT_FALSE(Kick());
  EXPECT_EQ(ErrorTexts(), std::vector<std::wstring>{L"Open SCM failed with error 1722"});
  EXPECT_TRUE(desktop.services.serviceNamesRequested.empty());
  EXPECT_TRUE(agent.Closes().empty());
}

}  // namespace
}  // namespace velmor::test
