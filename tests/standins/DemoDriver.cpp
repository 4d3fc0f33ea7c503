// Drives the demo from the Windows side: installs the product service stand-in, lets the
// installer's call rewrite the autostart value, starts the agent as a user would with the product
// not running, asks it to open a web page, starts a second agent, makes the first quit, starts the
// agent as a logon would, and tells at every step what it saw.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/AgentIdentity.h"
#include "peers/ProductPeers.h"
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

std::size_t Count(const std::string& path, const std::string& prefix) {
  std::size_t count = 0;
  for (const auto& line : ReadLogLines(path)) {
    if (line.rfind(prefix, 0) == 0) {
      ++count;
    }
  }
  return count;
}

HWND ProductWindow() {
  return FindWindowByClassAndCaption(std::string(velmor::peers::kProductWindowClass),
                                     std::string(velmor::peers::kProductWindowCaption));
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

int Fail(const std::string& what) {
  Say("  !! " + what);
  return 1;
}

int RunDemo(const std::string& folder) {
  const std::string serviceLog = folder + "service.log";
  const std::string windowLog = folder + "product-window.log";
  const std::string urlLog = folder + "urls.log";
  const std::string exeFolder = ExecutableFolder();

  Say("Step 1. Preparing a desktop with the product installed but not running.");
  if (RunningUnderWine()) {
    SetWineVersionForAgent("win10");
    Say("  Wine will report Windows 10 to velmor.exe.");
  }
  RemoveServiceStandin();
  const std::string options = "--log " + Quote(serviceLog) + " --launch " + Quote(exeFolder + "tessaly_window.exe") +
                              " --launch-args \"--log " + windowLog + " --show-after 300\"";
  if (InstallServiceStandin(options) != 0 || StartServiceStandin() != 0) {
    return Fail("the product service stand-in could not be installed and started");
  }
  Say("  The product service stand-in \"tsysrv\" is installed and running.");
  Say("  The product window is " + std::string(ProductWindow() ? "there" : "not there") + ".");
  const auto previousHandler = RegisterHttpsHandler(exeFolder + "url_recorder.exe");
  ::SetEnvironmentVariableA("VELMOR_URL_LOG", urlLog.c_str());
  Say("  Web pages will be recorded instead of opened in a browser.");

  Say("");
  Say("Step 2. The installer runs velmor.exe firstnotstartbutrestart over an old installation's entry.");
  if (!WriteAutostart("\"C:\\Program Files\\Tessaly Old\\velmor.exe\" 1")) {
    return Fail("the autostart value could not be written");
  }
  Say("  The autostart value \"Tessaly\" before: " + DescribeAutostart());
  ChildProcess installer = ChildProcess::Launch(exeFolder + "velmor.exe", "firstnotstartbutrestart");
  if (!installer) {
    return Fail("velmor.exe did not start");
  }
  const auto installCode = installer.WaitForExit(30s);
  if (!installCode) {
    installer.Terminate();
    return Fail("velmor.exe firstnotstartbutrestart did not end within 30 seconds");
  }
  Say("  velmor.exe ended with exit code " + std::to_string(*installCode) + ".");
  const auto rewritten = AutostartText();
  Say("  The autostart value \"Tessaly\" after:  " + rewritten.value_or("(no value)"));
  const std::string expected = Quote(exeFolder + "velmor.exe") + " 1";
  if (rewritten != expected) {
    return Fail("expected " + expected);
  }
  Say("  That is velmor.exe in the folder it ran from, quoted, with the old entry's tail \" 1\" kept.");
  Say("  The service received " + std::to_string(Count(serviceLog, "control")) + " control request(s); " +
      (FindNamedAgentWindow() ? "an agent is resident." : "no agent is resident."));

  Say("");
  Say("Step 3. The user starts velmor.exe, with no argument.");
  VisibilityWatch watch;
  ChildProcess agent = ChildProcess::Launch(exeFolder + "velmor.exe", "", Rights::User);
  if (!agent) {
    return Fail("velmor.exe did not start");
  }
  watch.Watch(agent.Id());
  if (!WaitUntil([&] { return Count(serviceLog, "control 133") > 0; }, 30s)) {
    return Fail("the service never received control code 133");
  }
  Say("  The service received control code 133 (" + std::to_string(Count(serviceLog, "control")) +
      " request) and launched the product window.");
  if (!WaitUntil([] { return ProductWindow() != nullptr; }, 30s)) {
    return Fail("the product window did not come up");
  }
  Say("  The product window \"Tessaly 2024\" came up, hidden.");
  if (!WaitUntil([] { return ::IsWindowVisible(ProductWindow()) != FALSE; }, 30s)) {
    return Fail("the product window never became visible");
  }
  Say("  The agent clicked it forward: " + std::to_string(Count(windowLog, "tray 0 514")) +
      " tray click(s) recorded, and the product window is now visible.");
  HWND agentWindow = nullptr;
  WaitUntil([&] { return (agentWindow = FindNamedAgentWindow()) != nullptr; }, 10s);
  if (agentWindow == nullptr || WindowProcessId(agentWindow) != agent.Id()) {
    return Fail("the agent is not resident as \"velmor8476035\"");
  }
  Say("  The agent stays resident: its window \"" + WindowCaption(agentWindow) + "\" (class " +
      WindowClass(agentWindow) + ") is " + (::IsWindowVisible(agentWindow) ? "VISIBLE" : "hidden") + ".");

  Say("");
  Say("Step 4. Another program asks the agent to open the contact page (message 1025, 1, 1).");
  ::SendMessageA(agentWindow, velmor::WM_AGENT_COMMAND, 1, 1);
  if (!WaitUntil([&] { return !ReadLogLines(urlLog).empty(); }, 30s)) {
    return Fail("no page was opened");
  }
  Say("  The browser was asked to open: " + ReadLogLines(urlLog).front());

  Say("");
  Say("Step 5. The user starts velmor.exe again, with no argument, while the agent is resident.");
  {
    CoverWindow cover;
    HWND product = ProductWindow();
    if (cover.Handle() == nullptr || !IsAbove(cover.Handle(), product)) {
      return Fail("no window could be put over the product window");
    }
    Say("  Another program's window now lies over the product window, which is " +
        std::string(::IsWindowVisible(product) ? "visible" : "HIDDEN") + ".");
    const auto clicksBefore = Count(windowLog, "tray");
    const auto requestsBefore = Count(serviceLog, "control");
    ChildProcess second = ChildProcess::Launch(exeFolder + "velmor.exe", "", Rights::User);
    if (!second) {
      return Fail("the second velmor.exe did not start");
    }
    watch.Watch(second.Id());
    const auto secondCode = second.WaitForExit(30s);
    if (!secondCode) {
      second.Terminate();
      return Fail("the second agent did not end within 30 seconds");
    }
    Say("  The second agent ended with exit code " + std::to_string(*secondCode) + ".");
    if (!IsAbove(product, cover.Handle())) {
      return Fail("the product window is still under the other program's window");
    }
    Say("  The product window is on top again, over the other program's window; " +
        std::to_string(Count(windowLog, "tray") - clicksBefore) + " tray click(s) and " +
        std::to_string(Count(serviceLog, "control") - requestsBefore) + " service request(s) were added.");
    HWND named = FindNamedAgentWindow();
    if (!agent.IsRunning() || named != agentWindow || WindowProcessId(named) != agent.Id()) {
      return Fail("the first agent is gone or lost its name");
    }
    Say("  The first agent still runs and is still found as \"" + WindowCaption(named) + "\" (class " +
        WindowClass(named) + ").");
    if (*secondCode != 0) {
      return Fail("the second agent's exit code is not 0");
    }
  }

  Say("");
  Say("Step 6. Another program asks the agent to quit (message 1025, 0, 0).");
  ::PostMessageA(agentWindow, velmor::WM_AGENT_COMMAND, 0, 0);
  const auto code = agent.WaitForExit(30s);
  if (!code) {
    return Fail("the agent did not quit");
  }
  Say("  The agent ended with exit code " + std::to_string(*code) + ".");

  Say("");
  Say("Step 7. The user logs on again: the product is not running, the autostart entry starts velmor.");
  if (HWND product = ProductWindow()) {
    ::PostMessageA(product, WM_CLOSE, 0, 0);
  }
  if (!WaitUntil([] { return ProductWindow() == nullptr; }, 10s)) {
    return Fail("the product window did not close");
  }
  Say("  The product window was closed.");
  const auto command = AutostartText();
  Say("  The autostart value runs: " + command.value_or("(no value)"));
  const auto clicksBefore = Count(windowLog, "tray");
  const auto requestsBefore = Count(serviceLog, "control 133");
  ChildProcess logon = LaunchAutostartCommand(command.value_or(""));
  if (!logon) {
    return Fail("the autostart command did not start");
  }
  watch.Watch(logon.Id());
  if (!WaitUntil([&] { return Count(serviceLog, "control 133") > requestsBefore; }, 30s)) {
    return Fail("the service never received control code 133");
  }
  if (!WaitUntil([] { return ProductWindow() != nullptr; }, 30s)) {
    return Fail("the product window did not come up");
  }
  Say("  The service received control code 133 again and launched the product window.");
  HWND logonWindow = nullptr;
  WaitUntil([&] { return (logonWindow = FindNamedAgentWindow()) != nullptr; }, 10s);
  if (logonWindow == nullptr || WindowProcessId(logonWindow) != logon.Id()) {
    return Fail("the agent is not resident as \"velmor8476035\"");
  }
  // An agent that meant to bring the window forward would click it within about a second.
  ::Sleep(3000);
  const auto logonClicks = Count(windowLog, "tray") - clicksBefore;
  const bool productVisible = ::IsWindowVisible(ProductWindow()) != FALSE;
  Say("  Three seconds later: " + std::to_string(logonClicks) + " tray click(s), the product window is " +
      (productVisible ? "VISIBLE" : "still hidden") + ", and the agent " +
      (logon.IsRunning() ? "stays resident" : "has ENDED") + " as \"" + WindowCaption(logonWindow) + "\" (" +
      (::IsWindowVisible(logonWindow) ? "VISIBLE" : "hidden") + ").");
  if (logonClicks != 0 || productVisible || !logon.IsRunning()) {
    return Fail("a logon start must stay resident and leave the product window alone");
  }
  ::PostMessageA(logonWindow, velmor::WM_AGENT_COMMAND, 0, 0);
  const auto logonCode = logon.WaitForExit(30s);
  if (!logonCode) {
    return Fail("the agent did not quit");
  }
  Say("  Asked to quit (message 1025, 0, 0), it ended with exit code " + std::to_string(*logonCode) + ".");
  const auto sightings = watch.Sightings();
  Say(sightings.empty() ? "  No agent window was ever visible." : "  !! " + sightings.front());

  Say("");
  Say("Step 8. Cleaning up.");
  if (HWND product = ProductWindow()) {
    ::PostMessageA(product, WM_CLOSE, 0, 0);
  }
  RemoveServiceStandin();
  RestoreHttpsHandler(previousHandler);
  Say("  The product window was closed and the service stand-in removed.");
  Say("  The autostart value \"Tessaly\" is: " + DescribeAutostart());
  return (*installCode == 0 && *code == 0 && *logonCode == 0 && sightings.empty()) ? 0 : 1;
}

}  // namespace

int main() {
  char temp[MAX_PATH] = {};
  ::GetTempPathA(sizeof temp, temp);
  const std::string folder = std::string(temp) + "velmor-demo-" + std::to_string(::GetCurrentProcessId()) + "\\";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  const int result = RunDemo(folder);
  Say(result == 0 ? "\nDemo finished: everything happened as expected." : "\nDemo finished with a problem.");
  return result;
}
