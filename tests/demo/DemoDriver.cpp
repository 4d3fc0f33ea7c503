// Drives the demo from the Windows side: installs the product service stand-in, lets the
// installer's call rewrite the autostart value, starts the agent as a user would with the product
// not running, asks it to open a web page, starts a second agent, makes the first quit, starts the
// agent as a logon would, and tells at every step what it saw.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "peers/AgentContract.h"
#include "tests/e2e/LogFile.h"
#include "tests/e2e/Poll.h"
#include "tests/e2e/Processes.h"
#include "tests/e2e/Registry.h"
#include "tests/e2e/ServiceStandin.h"
#include "tests/e2e/Windows.h"
#include "tests/e2e/ZOrder.h"

namespace {

using namespace velmor::e2e;

void Say(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

// Says what went wrong; the step that called it ends the story.
bool Fail(const std::string& what) {
  Say("  !! " + what);
  return false;
}

std::optional<std::string> AutostartText() {
  const auto value = ReadAutostart();
  if (!value) {
    return std::nullopt;
  }
  return std::string(value->data.c_str());
}

std::string DescribeAutostart() {
  return AutostartText().value_or("(no value)");
}

// Starts the command line that the autostart value holds, with the user's rights as a logon does: a
// quoted program path and its arguments.
ChildProcess LaunchAutostartCommand(const std::string& command) {
  if (command.size() < 2 || command.front() != '"') {
    return {};
  }
  const auto close = command.find('"', 1);
  if (close == std::string::npos) {
    return {};
  }
  std::string arguments = command.substr(close + 1);
  arguments.erase(0, arguments.find_first_not_of(' '));
  return ChildProcess::Launch(command.substr(1, close - 1), arguments, Rights::User);
}

// The story, one step a method. Each step says what it saw and returns false when the story cannot
// go on; the clean-up runs whatever happened.
class Demo {
 public:
  explicit Demo(const std::string& folder)
      : serviceLog_(folder + "service.log"), windowLog_(folder + "product-window.log"), urlLog_(folder + "urls.log") {}

  bool PrepareDesktop();
  bool InstallerRewritesTheValue();
  bool UserStart();
  bool OpenAPage();
  bool SecondAgent();
  bool Quit();
  bool LogonStart();
  void CleanUp();

  // Every agent ended with exit code 0 and no agent window was ever seen.
  [[nodiscard]] bool EndedWell() { return exitCodesZero_ && watch_.Sightings().empty(); }

 private:
  std::string AgentPath() const { return exeFolder_ + "velmor.exe"; }
  bool ExpectExitCodeZero(const ChildProcess& process, const std::string& what);

  const std::string exeFolder_ = ExecutableFolder();
  std::string serviceLog_;
  std::string windowLog_;
  std::string urlLog_;
  std::optional<std::string> previousHttpsHandler_;
  VisibilityWatch watch_;
  ChildProcess agent_;
  HWND agentWindow_ = nullptr;
  bool exitCodesZero_ = true;
};

bool Demo::ExpectExitCodeZero(const ChildProcess& process, const std::string& what) {
  const auto code = process.WaitForExit(30s);
  if (!code) {
    process.Terminate();
    return Fail(what + " did not end within 30 seconds");
  }
  Say("  " + what + " ended with exit code " + std::to_string(*code) + ".");
  exitCodesZero_ = exitCodesZero_ && *code == 0;
  return true;
}

bool Demo::PrepareDesktop() {
  Say("Step 1. Preparing a desktop with the product installed but not running.");
  if (RunningUnderWine()) {
    SetWineVersionForAgent("win10");
    Say("  Wine will report Windows 10 to velmor.exe.");
  }
  RemoveServiceStandin();
  const std::string options = "--log " + Quote(serviceLog_) + " --launch " + Quote(exeFolder_ + "tessaly_window.exe") +
                              " --launch-args \"--log " + windowLog_ + " --show-after 300\"";
  if (InstallServiceStandin(options) != 0 || StartServiceStandin() != 0) {
    return Fail("the product service stand-in could not be installed and started");
  }
  Say("  The product service stand-in \"tsysrv\" is installed and running.");
  Say("  The product window is " + std::string(FindProductWindow() ? "there" : "not there") + ".");
  previousHttpsHandler_ = RegisterHttpsHandler(exeFolder_ + "url_recorder.exe");
  ::SetEnvironmentVariableA("VELMOR_URL_LOG", urlLog_.c_str());
  Say("  Web pages will be recorded instead of opened in a browser.");
  return true;
}

bool Demo::InstallerRewritesTheValue() {
  Say("");
  Say("Step 2. The installer runs velmor.exe firstnotstartbutrestart over an old installation's entry.");
  if (!WriteAutostart("\"C:\\Program Files\\Tessaly Old\\velmor.exe\" 1")) {
    return Fail("the autostart value could not be written");
  }
  Say("  The autostart value \"Tessaly\" before: " + DescribeAutostart());
  ChildProcess installer = ChildProcess::Launch(AgentPath(), "firstnotstartbutrestart");
  if (!installer) {
    return Fail("velmor.exe did not start");
  }
  if (!ExpectExitCodeZero(installer, "velmor.exe")) {
    return false;
  }
  const auto rewritten = AutostartText();
  Say("  The autostart value \"Tessaly\" after:  " + rewritten.value_or("(no value)"));
  const std::string expected = Quote(AgentPath()) + " 1";
  if (rewritten != expected) {
    return Fail("expected " + expected);
  }
  Say("  That is velmor.exe in the folder it ran from, quoted, with the old entry's tail \" 1\" kept.");
  Say("  The service received " + std::to_string(CountLogLines(serviceLog_, "control")) + " control request(s); " +
      (FindNamedAgentWindow() ? "an agent is resident." : "no agent is resident."));
  return true;
}

bool Demo::UserStart() {
  Say("");
  Say("Step 3. The user starts velmor.exe, with no argument.");
  agent_ = ChildProcess::Launch(AgentPath(), "", Rights::User);
  if (!agent_) {
    return Fail("velmor.exe did not start");
  }
  watch_.Watch(agent_.Id());
  if (!WaitUntil([&] { return CountLogLines(serviceLog_, "control 133") > 0; }, 30s)) {
    return Fail("the service never received control code 133");
  }
  Say("  The service received control code 133 (" + std::to_string(CountLogLines(serviceLog_, "control")) +
      " request) and launched the product window.");
  if (!WaitUntil([] { return FindProductWindow() != nullptr; }, 30s)) {
    return Fail("the product window did not come up");
  }
  Say("  The product window \"Tessaly 2024\" came up, hidden.");
  if (!WaitUntil([] { return ::IsWindowVisible(FindProductWindow()) != FALSE; }, 30s)) {
    return Fail("the product window never became visible");
  }
  Say("  The agent clicked it forward: " + std::to_string(CountLogLines(windowLog_, "tray 0 514")) +
      " tray click(s) recorded, and the product window is now visible.");
  agentWindow_ = WaitForNamedAgent(agent_.Id(), 10s);
  if (agentWindow_ == nullptr) {
    return Fail("the agent is not resident as \"velmor8476035\"");
  }
  Say("  The agent stays resident: its window \"" + WindowCaption(agentWindow_) + "\" (class " +
      WindowClass(agentWindow_) + ") is " + (::IsWindowVisible(agentWindow_) ? "VISIBLE" : "hidden") + ".");
  return true;
}

bool Demo::OpenAPage() {
  Say("");
  Say("Step 4. Another program asks the agent to open the contact page (message 1025, 1, 1).");
  constexpr velmor::peers::AgentCommandMessage kContact = velmor::peers::OpenPageCommand(1);
  ::SendMessageA(agentWindow_, kContact.message, kContact.wParam, kContact.lParam);
  if (!WaitUntil([&] { return !ReadLogLines(urlLog_).empty(); }, 30s)) {
    return Fail("no page was opened");
  }
  Say("  The browser was asked to open: " + ReadLogLines(urlLog_).front());
  return true;
}

bool Demo::SecondAgent() {
  Say("");
  Say("Step 5. The user starts velmor.exe again, with no argument, while the agent is resident.");
  CoverWindow cover;
  HWND product = FindProductWindow();
  if (cover.Handle() == nullptr || !IsAbove(cover.Handle(), product)) {
    return Fail("no window could be put over the product window");
  }
  Say("  Another program's window now lies over the product window, which is " +
      std::string(::IsWindowVisible(product) ? "visible" : "HIDDEN") + ".");
  const auto clicksBefore = CountLogLines(windowLog_, "tray");
  const auto requestsBefore = CountLogLines(serviceLog_, "control");
  ChildProcess second = ChildProcess::Launch(AgentPath(), "", Rights::User);
  if (!second) {
    return Fail("the second velmor.exe did not start");
  }
  watch_.Watch(second.Id());
  if (!ExpectExitCodeZero(second, "The second agent")) {
    return false;
  }
  if (!IsAbove(product, cover.Handle())) {
    return Fail("the product window is still under the other program's window");
  }
  Say("  The product window is on top again, over the other program's window; " +
      std::to_string(CountLogLines(windowLog_, "tray") - clicksBefore) + " tray click(s) and " +
      std::to_string(CountLogLines(serviceLog_, "control") - requestsBefore) + " service request(s) were added.");
  HWND named = FindNamedAgentWindow();
  if (!agent_.IsRunning() || named != agentWindow_ || WindowProcessId(named) != agent_.Id()) {
    return Fail("the first agent is gone or lost its name");
  }
  Say("  The first agent still runs and is still found as \"" + WindowCaption(named) + "\" (class " +
      WindowClass(named) + ").");
  return true;
}

bool Demo::Quit() {
  Say("");
  Say("Step 6. Another program asks the agent to quit (message 1025, 0, 0).");
  constexpr velmor::peers::AgentCommandMessage kQuit = velmor::peers::QuitCommand();
  ::PostMessageA(agentWindow_, kQuit.message, kQuit.wParam, kQuit.lParam);
  return ExpectExitCodeZero(agent_, "The agent");
}

bool Demo::LogonStart() {
  Say("");
  Say("Step 7. The user logs on again: the product is not running, the autostart entry starts velmor.");
  if (HWND product = FindProductWindow()) {
    ::PostMessageA(product, WM_CLOSE, 0, 0);
  }
  if (!WaitUntil([] { return FindProductWindow() == nullptr; }, 10s)) {
    return Fail("the product window did not close");
  }
  Say("  The product window was closed.");
  const auto command = AutostartText();
  Say("  The autostart value runs: " + command.value_or("(no value)"));
  const auto clicksBefore = CountLogLines(windowLog_, "tray");
  const auto requestsBefore = CountLogLines(serviceLog_, "control 133");
  ChildProcess logon = LaunchAutostartCommand(command.value_or(""));
  if (!logon) {
    return Fail("the autostart command did not start");
  }
  watch_.Watch(logon.Id());
  if (!WaitUntil([&] { return CountLogLines(serviceLog_, "control 133") > requestsBefore; }, 30s)) {
    return Fail("the service never received control code 133");
  }
  if (!WaitUntil([] { return FindProductWindow() != nullptr; }, 30s)) {
    return Fail("the product window did not come up");
  }
  Say("  The service received control code 133 again and launched the product window.");
  HWND logonWindow = WaitForNamedAgent(logon.Id(), 10s);
  if (logonWindow == nullptr) {
    return Fail("the agent is not resident as \"velmor8476035\"");
  }
  // An agent that meant to bring the window forward would click it within about a second.
  ::Sleep(3000);
  const auto logonClicks = CountLogLines(windowLog_, "tray") - clicksBefore;
  const bool productVisible = ::IsWindowVisible(FindProductWindow()) != FALSE;
  Say("  Three seconds later: " + std::to_string(logonClicks) + " tray click(s), the product window is " +
      (productVisible ? "VISIBLE" : "still hidden") + ", and the agent " +
      (logon.IsRunning() ? "stays resident" : "has ENDED") + " as \"" + WindowCaption(logonWindow) + "\" (" +
      (::IsWindowVisible(logonWindow) ? "VISIBLE" : "hidden") + ").");
  if (logonClicks != 0 || productVisible || !logon.IsRunning()) {
    return Fail("a logon start must stay resident and leave the product window alone");
  }
  constexpr velmor::peers::AgentCommandMessage kQuit = velmor::peers::QuitCommand();
  ::PostMessageA(logonWindow, kQuit.message, kQuit.wParam, kQuit.lParam);
  if (!ExpectExitCodeZero(logon, "Asked to quit (message 1025, 0, 0), the agent")) {
    return false;
  }
  const auto sightings = watch_.Sightings();
  Say(sightings.empty() ? "  No agent window was ever visible." : "  !! " + sightings.front());
  return true;
}

void Demo::CleanUp() {
  Say("");
  Say("Step 8. Cleaning up.");
  if (HWND product = FindProductWindow()) {
    ::PostMessageA(product, WM_CLOSE, 0, 0);
  }
  agent_.Terminate();
  RemoveServiceStandin();
  RestoreHttpsHandler(previousHttpsHandler_);
  Say("  The product window was closed and the service stand-in removed.");
  Say("  The autostart value \"Tessaly\" is: " + DescribeAutostart());
}

}  // namespace

int main() {
  const std::string folder = MakeTempFolder("velmor-demo-" + std::to_string(::GetCurrentProcessId()));
  Demo demo(folder);
  const bool told = demo.PrepareDesktop() && demo.InstallerRewritesTheValue() && demo.UserStart() && demo.OpenAPage() &&
                    demo.SecondAgent() && demo.Quit() && demo.LogonStart();
  demo.CleanUp();
  const bool ok = told && demo.EndedWell();
  Say(ok ? "\nDemo finished: everything happened as expected." : "\nDemo finished with a problem.");
  return ok ? 0 : 1;
}
