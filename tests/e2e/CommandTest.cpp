// The command message of a resident agent: the web pages by index, nothing for other parameters,
// and quit by post or by send.
#include <string>
#include <vector>

#include "peers/AgentContract.h"
#include "tests/e2e/AgentTest.h"

namespace velmor::e2e {
namespace {

class CommandTest : public AgentTest {
 protected:
  // A resident agent: a logon start while the product window is visible.
  HWND StartResidentAgent() {
    StartProductWindow("--visible");
    agent_ = &StartAgent("1");
    return WaitForNamedAgent(*agent_);
  }

  // Sends one page command and waits for the recorder to log one more URL.
  void OpenPage(HWND window, std::size_t index) {
    const std::size_t before = LogLines(UrlLog()).size();
    SendCommand(window, peers::OpenPageCommand(index));
    EXPECT_TRUE(WaitUntil([&] { return LogLines(UrlLog()).size() > before; }, kStartBound))
        << "page " << index << " was not opened";
  }

  ChildProcess* agent_ = nullptr;
};

const std::string kSite = VELMOR_WEB_SITE;

// The shell and COM are loaded with the first page, not at start.
TEST_F(CommandTest, OpensEveryPageOfTheTableInOrder) {
  HWND window = StartResidentAgent();
  ASSERT_NE(window, nullptr);
  // Under Wine a 64-bit suite does not see the modules of a 32-bit agent (the shipped-binary tier on an
  // emulating host): there the late loading is not checked; the image check keeps both out of the imports.
  const bool modulesVisible = ProcessHasModule(agent_->Id(), "user32.dll");
  if (modulesVisible) {
    EXPECT_FALSE(ProcessHasModule(agent_->Id(), "shell32.dll")) << "the shell was loaded before any page";
    EXPECT_FALSE(ProcessHasModule(agent_->Id(), "ole32.dll")) << "COM was loaded before any page";
  }
  for (std::size_t index = 0; index < peers::kWebPages.size(); ++index) {
    OpenPage(window, index);
  }
  const bool shellLoaded = modulesVisible && ProcessHasModule(agent_->Id(), "shell32.dll");
  const std::vector<std::string> expected = {kSite, kSite + "/contact", kSite + "/feedback",
                                             kSite + "/vers/ts2024/lwiksoa"};
  EXPECT_EQ(LogLines(UrlLog()), expected);
  EXPECT_TRUE(agent_->IsRunning());
  EXPECT_EQ(QuitByCommand(window, *agent_), 0U);
  if (!modulesVisible) {
    GTEST_SKIP() << "the pages were opened; their late loading is not checked: this suite cannot see the agent's "
                    "modules";
  }
  EXPECT_TRUE(shellLoaded) << "the first page loads the shell";
}

TEST_F(CommandTest, BadParametersOpenNothingAndDoNotQuit) {
  HWND window = StartResidentAgent();
  ASSERT_NE(window, nullptr);
  ::SendMessageA(window, peers::kAgentCommandMessage, 0, 1);
  ::SendMessageA(window, peers::kAgentCommandMessage, 2, 0);
  ::SendMessageA(window, peers::kAgentCommandMessage, 2, 1);
  ::SendMessageA(window, peers::kAgentCommandMessage, 1, static_cast<LPARAM>(peers::kWebPages.size()));
  ::SendMessageA(window, peers::kAgentCommandMessage, 1, -1);
  EXPECT_TRUE(agent_->IsRunning());
  // A good command after the bad ones: once its page is logged, the bad ones had their turn.
  OpenPage(window, 1);
  EXPECT_EQ(LogLines(UrlLog()), std::vector<std::string>{kSite + "/contact"});
  EXPECT_TRUE(agent_->IsRunning());
  EXPECT_EQ(FindNamedAgentWindow(), window);
  EXPECT_EQ(QuitByCommand(window, *agent_), 0U);
}

TEST_F(CommandTest, QuitByPostEndsAgentWithExitCodeZero) {
  HWND window = StartResidentAgent();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(PostCommand(window, peers::QuitCommand()));
  EXPECT_EQ(agent_->WaitForExit(kExitBound), 0U);
  EXPECT_EQ(FindNamedAgentWindow(), nullptr);
}

TEST_F(CommandTest, QuitBySendEndsAgentWithExitCodeZero) {
  HWND window = StartResidentAgent();
  ASSERT_NE(window, nullptr);
  DWORD_PTR result = 1;
  ASSERT_NE(::SendMessageTimeoutA(window, peers::kAgentCommandMessage, 0, 0, SMTO_NORMAL, 10000, &result), 0);
  EXPECT_EQ(result, 0U);
  EXPECT_EQ(agent_->WaitForExit(kExitBound), 0U);
  EXPECT_EQ(FindNamedAgentWindow(), nullptr);
}

}  // namespace
}  // namespace velmor::e2e
