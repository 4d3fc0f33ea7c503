#include "tests/e2e/AgentTest.h"

#include <atomic>
#include <cstdio>

#include "peers/AgentContract.h"
#include "peers/ProductPeers.h"
#include "tests/e2e/LogFile.h"

namespace velmor::e2e {
namespace {

std::string MakeCaseFolder() {
  static std::atomic<int> counter{0};
  return MakeTempFolder("velmor-e2e-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++));
}

// Ends every process of this build's programs that owns a window of this class and caption. A window
// of another program (the product itself, on a machine where it is installed) is left alone.
void EndOwnersOf(const std::string& className, const std::string& caption) {
  HWND after = nullptr;
  for (int i = 0; i < 20; ++i) {
    HWND window = ::FindWindowExA(nullptr, after, className.c_str(), caption.c_str());
    if (window == nullptr) {
      return;
    }
    TerminateOurProgram(WindowProcessId(window));
    if (!WaitUntil([&] { return !::IsWindow(window); }, 5s)) {
      after = window;  // not ours: look past it
    }
  }
}

}  // namespace

void SkipCase(const std::string& reason) {
  [&] { GTEST_SKIP() << reason; }();
  throw ::testing::AssertionException(
      ::testing::TestPartResult(::testing::TestPartResult::kSkip, __FILE__, __LINE__, reason.c_str()));
}

void ExpectOkDialogThenExit(const ChildProcess& agent, const std::wstring& caption, const std::wstring& text) {
  const std::optional<DialogContent> dialog = WaitForDialog(agent.Id(), kStartBound);
  ASSERT_TRUE(dialog.has_value()) << "no dialog";
  EXPECT_EQ(dialog->caption, caption);
  EXPECT_EQ(WithLineFeeds(dialog->text), text);
  ASSERT_EQ(dialog->buttons.size(), 1U);
  EXPECT_EQ(dialog->buttons[0].id, IDOK);
  EXPECT_EQ(dialog->buttons[0].text, L"OK") << "the button text does not follow the system's UI language";
  AnswerDialog(dialog->window, IDOK);
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U);
}

HeldMapping::HeldMapping(const std::string& name)
    : mapping_(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1, name.c_str())) {}

void AgentTest::SetUp() {
  if (ProductServiceInstalled()) {
    // Every case starts the agent or calls its logic, which would reach the product's own service and
    // windows; the suite never stops, replaces or ends what it did not create.
    GTEST_SKIP() << "the product is installed on this machine (its service \"" << peers::kProductServiceName
                 << "\" is not this build's stand-in): the cases that need the stand-in service are skipped";
  }
  CleanDesktop();
  folder_ = MakeCaseFolder();
  productLog_ = folder_ + "product-window.log";
  serviceLog_ = folder_ + "service.log";
  urlLog_ = folder_ + "urls.log";
  // The agent passes its environment on to the programs that the shell starts for it.
  ::SetEnvironmentVariableA("VELMOR_URL_LOG", urlLog_.c_str());
  savedAutostart_ = ReadAutostartAsStored();
  DeleteAutostart();
  savedHttpsHandler_ = RegisterHttpsHandler(ExecutableFolder() + "url_recorder.exe");
  if (RunningUnderWine()) {
    // A fresh Wine prefix reports Windows 7; the agent needs 6.3 or later to go on.
    ASSERT_TRUE(SetWineVersionForAgent("win10"));
  }
  watch_ = std::make_unique<VisibilityWatch>();
}

void AgentTest::TearDown() {
  if (!watch_) {
    return;  // skipped before anything was set up
  }
  const std::vector<std::string> sightings = watch_->Sightings();
  watch_.reset();
  for (const std::string& sighting : sightings) {
    ADD_FAILURE() << "an agent window became visible: " << sighting;
  }
  CleanDesktop();
  EXPECT_FALSE(AgentMarkerExists()) << "the single-instance marker outlived every agent";
  if (savedAutostart_) {
    RestoreAutostart(*savedAutostart_);
  } else {
    DeleteAutostart();
  }
  RestoreHttpsHandler(savedHttpsHandler_);
  RemoveTempFolder(folder_);
}

void AgentTest::CleanDesktop() {
  for (const ChildProcess& process : processes_) {
    process.Terminate();
  }
  processes_.clear();
  const std::string agentClass(peers::kAgentWindowClass);
  EndOwnersOf(agentClass, std::string(peers::kAgentWindowCaption));
  EndOwnersOf(agentClass, std::string(peers::kAgentInitialCaption));
  EndOwnersOf(std::string(peers::kProductWindowClass), std::string(peers::kProductWindowCaption));
  RemoveServiceStandin();
  WaitUntil([] { return !AgentMarkerExists(); }, 10s);
}

void AgentTest::RequireUserRights() {
  if (const std::string why = WhyUserRightsAreOutOfReach(); !why.empty()) {
    SkipCase("the case starts the agent with the user's own rights, which nothing here has: " + why);
  }
}

ChildProcess& AgentTest::StartAgent(const std::string& arguments, Rights rights) {
  if (rights == Rights::User) {
    RequireUserRights();
  }
  processes_.push_back(ChildProcess::Launch(AgentPath(), arguments, rights));
  ChildProcess& agent = processes_.back();
  EXPECT_TRUE(agent) << "velmor.exe did not start: error " << ::GetLastError();
  // The shipped-binary tier runs the 32-bit exes from the 64-bit suite: each agent must be a 32-bit
  // process there, or the tier proves nothing.
  if (::GetEnvironmentVariableA("VELMOR_E2E_AGENT_IS_32BIT", nullptr, 0) > 0) {
    BOOL emulated32 = FALSE;
    EXPECT_TRUE(agent && ::IsWow64Process(agent.Handle(), &emulated32) != FALSE && emulated32 != FALSE)
        << "velmor.exe runs as a 64-bit process";
  }
  watch_->Watch(agent.Id());
  return agent;
}

ChildProcess& AgentTest::StartProductWindow(const std::string& options) {
  processes_.push_back(ChildProcess::Launch(ProductWindowPath(), "--log " + Quote(productLog_) + " " + options));
  ChildProcess& window = processes_.back();
  EXPECT_TRUE(window) << "the product window stand-in did not start";
  EXPECT_TRUE(WaitUntil([] { return ProductWindow() != nullptr; }, kStartBound));
  return window;
}

void AgentTest::InstallService(const std::string& options) {
  ASSERT_EQ(InstallServiceStandin("--log " + Quote(serviceLog_) + " " + options), 0U);
}

std::string AgentTest::LaunchProductWindowOption(const std::string& showAfter) const {
  // The launched window logs to the product log; the argument text is handed on as it stands.
  return "--launch " + Quote(ProductWindowPath()) + " --launch-args \"--log " + productLog_ + " --show-after " +
         showAfter + "\"";
}

std::vector<std::string> AgentTest::LogLines(const std::string& path) {
  return ReadLogLines(path);
}

std::vector<std::string> AgentTest::LinesStartingWith(const std::string& path, const std::string& prefix) {
  std::vector<std::string> matching;
  for (const std::string& line : LogLines(path)) {
    if (line.rfind(prefix, 0) == 0) {
      matching.push_back(line);
    }
  }
  return matching;
}

HWND AgentTest::ProductWindow() {
  return FindProductWindow();
}

bool AgentTest::AgentMarkerExists() {
  UniqueWin32Handle marker(::OpenFileMappingA(FILE_MAP_READ, FALSE, std::string(peers::kInstanceMarkerName).c_str()));
  return static_cast<bool>(marker);
}

}  // namespace velmor::e2e
