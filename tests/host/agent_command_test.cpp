// The command message: quit, or one of the maker's four web pages.
#include <limits>

#include "tests/host/AgentScenario.h"

namespace velmor::test {
namespace {

class AgentCommand : public AgentScenario {
 protected:
  void SetUp() override {
    SetAutostart("\"C:\\P\\velmor.exe\" 1");
    desktop.StartProduct(ProductStart::Visible);
    agent = &Start(L"1");  // resident, doing nothing else
    ASSERT_FALSE(agent->Ended());
  }
  MessageResult Send(MessageWParam command, MessageLParam argument) {
    return desktop.Send(agent->AgentWindow(), peers::kAgentCommandMessage, command, argument);
  }
  [[nodiscard]] std::vector<std::wstring> OpenedPages() const {
    std::vector<std::wstring> pages;
    for (const sim::ShellExecuteRecord& open : desktop.shellExecutes) {
      EXPECT_EQ(open.operation, L"open");
      EXPECT_EQ(open.showCommand, 9);
      EXPECT_EQ(open.fromProcess, agent->Id());
      pages.push_back(open.file);
    }
    return pages;
  }

  SimProcess* agent = nullptr;
};

TEST_F(AgentCommand, QuitByPostEndsTheAgent) {
  EXPECT_TRUE(PostCommand(desktop, agent->AgentWindow(), peers::QuitCommand()));
  EXPECT_FALSE(agent->Ended()) << "a posted command waits for the loop";
  desktop.RunUntilIdle();
  EXPECT_TRUE(agent->Ended());
  EXPECT_FALSE(desktop.MappingExists(kMarker));
  EXPECT_EQ(desktop.FindWindow("TMainForm", kAgentCaption), kNoWindow);
}

TEST_F(AgentCommand, CommandsPostedBeforeTheLoopEndsAreStillHandled) {
  PostCommand(desktop, agent->AgentWindow(), peers::QuitCommand());
  PostCommand(desktop, agent->AgentWindow(), peers::OpenPageCommand(2));
  PostCommand(desktop, agent->AgentWindow(), peers::QuitCommand());
  desktop.RunUntilIdle();
  EXPECT_TRUE(agent->Ended());
  EXPECT_EQ(OpenedPages(), std::vector<std::wstring>{L"https://www.tessaly.example/feedback"});
  EXPECT_FALSE(desktop.MappingExists(kMarker)) << "released by the first quit already";
}

TEST_F(AgentCommand, QuitBySendEndsTheAgentBeforeTheSendReturns) {
  EXPECT_EQ(Send(0, 0), 0);
  EXPECT_TRUE(agent->Ended());
  EXPECT_FALSE(desktop.MappingExists(kMarker));
}

TEST_F(AgentCommand, OtherCommandsDoNothing) {
  for (const auto& [command, argument] : std::vector<std::pair<MessageWParam, MessageLParam>>{
           {0, 1}, {0, -1}, {2, 0}, {2, 1}, {3, 0}, {std::numeric_limits<MessageWParam>::max(), 0}}) {
    EXPECT_EQ(Send(command, argument), 0);
    desktop.Post(agent->AgentWindow(), peers::kAgentCommandMessage, command, argument);
  }
  desktop.RunUntilIdle();
  EXPECT_FALSE(agent->Ended());
  EXPECT_TRUE(desktop.shellExecutes.empty());
}

// Every page of the table, by its index, against the paths the maker's site has: the oracle.
TEST_F(AgentCommand, OpenPageOpensEveryPageOfTheTableInOrder) {
  const std::vector<std::wstring> expectedPaths = {L"", L"/contact", L"/feedback", L"/vers/ts2024/lwiksoa"};
  for (std::size_t page = 0; page < peers::kWebPages.size(); ++page) {
    EXPECT_EQ(Send(1, static_cast<MessageLParam>(page)), 0);
  }
  const std::vector<std::wstring> pages = OpenedPages();
  ASSERT_EQ(pages.size(), expectedPaths.size());
  const std::wstring& home = pages[0];
  ASSERT_EQ(home.rfind(L"https://", 0), 0U);
  EXPECT_EQ(home.find(L'/', 8), std::wstring::npos) << "the home page has an empty path";
  for (std::size_t page = 1; page < pages.size(); ++page) {
    EXPECT_EQ(pages[page], home + expectedPaths[page]);
  }
  EXPECT_FALSE(agent->Ended());
}

// Launching the browser can take a while: a program that sent the command has its answer first.
TEST_F(AgentCommand, OpenPageAnswersTheSenderBeforeThePageIsOpened) {
  SimProcess& sender = desktop.CreateBareProcess(L"sender.exe", "C:\\sender.exe");
  EXPECT_EQ(sender.SendMessageA(agent->AgentWindow(), peers::kAgentCommandMessage, 1, 0), 0);
  EXPECT_EQ(Send(1, 1), 0);
  ASSERT_EQ(desktop.shellExecutes.size(), 2U);
  EXPECT_FALSE(desktop.shellExecutes[0].senderWaiting);
  EXPECT_FALSE(desktop.shellExecutes[1].senderWaiting);
}

TEST_F(AgentCommand, PostedOpenPageWorksToo) {
  PostCommand(desktop, agent->AgentWindow(), peers::OpenPageCommand(2));
  desktop.RunUntilIdle();
  ASSERT_EQ(OpenedPages().size(), 1U);
  EXPECT_NE(OpenedPages()[0].find(L"/feedback"), std::wstring::npos);
}

TEST_F(AgentCommand, PageNumbersOutsideTheTableOpenNothing) {
  constexpr auto kPageCount = static_cast<MessageLParam>(peers::kWebPages.size());
  for (const MessageLParam argument :
       {MessageLParam{-1}, kPageCount, kPageCount + 1, std::numeric_limits<MessageLParam>::max(),
        std::numeric_limits<MessageLParam>::min()}) {
    EXPECT_EQ(Send(1, argument), 0);
  }
  EXPECT_TRUE(desktop.shellExecutes.empty());
  EXPECT_FALSE(agent->Ended());
}

TEST_F(AgentCommand, OtherMessagesGoToTheDefaultHandling) {
  EXPECT_EQ(Send(0, 0), 0);
  EXPECT_TRUE(agent->Ended());
  SimProcess& next = Start(L"1");
  desktop.Send(next.AgentWindow(), peers::kAgentCommandMessage + 1, 0, 0);
  desktop.Send(next.AgentWindow(), peers::kAgentCommandMessage - 1, 1, 0);
  EXPECT_FALSE(next.Ended());
  EXPECT_TRUE(desktop.shellExecutes.empty());
}

}  // namespace
}  // namespace velmor::test
