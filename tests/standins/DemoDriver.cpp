// Drives the demo from the Windows side: installs the product service stand-in, starts the agent
// as a user would with the product not running, asks it to open a web page and to quit, and
// tells at every step what it saw.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/AgentIdentity.h"
#include "peers/ProductPeers.h"
#include "tests/e2e/Poll.h"
#include "tests/e2e/Processes.h"
#include "tests/e2e/Registry.h"
#include "tests/e2e/ServiceStandin.h"
#include "tests/e2e/Windows.h"

namespace {

using namespace velmor::e2e;

void Say(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return lines;
  }
  UniqueHandle owner(file);
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  std::size_t start = 0;
  for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::size_t Count(const std::string& path, const std::string& prefix) {
  std::size_t count = 0;
  for (const auto& line : ReadLines(path)) {
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

std::string DescribeAutostart() {
  const auto value = ReadAutostart();
  if (!value) {
    return "(no value)";
  }
  return value->data.c_str();
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
  Say("  The autostart value \"Tessaly\" is: " + DescribeAutostart());
  const auto previousHandler = RegisterHttpsHandler(exeFolder + "url_recorder.exe");
  ::SetEnvironmentVariableA("VELMOR_URL_LOG", urlLog.c_str());
  Say("  Web pages will be recorded instead of opened in a browser.");

  Say("");
  Say("Step 2. The user starts velmor.exe, with no argument.");
  VisibilityWatch watch;
  ChildProcess agent = ChildProcess::Launch(exeFolder + "velmor.exe", "");
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
  Say("Step 3. Another program asks the agent to open the contact page (message 1025, 1, 1).");
  ::SendMessageA(agentWindow, velmor::WM_AGENT_COMMAND, 1, 1);
  if (!WaitUntil([&] { return !ReadLines(urlLog).empty(); }, 30s)) {
    return Fail("no page was opened");
  }
  Say("  The browser was asked to open: " + ReadLines(urlLog).front());

  Say("");
  Say("Step 4. Another program asks the agent to quit (message 1025, 0, 0).");
  ::PostMessageA(agentWindow, velmor::WM_AGENT_COMMAND, 0, 0);
  const auto code = agent.WaitForExit(30s);
  if (!code) {
    return Fail("the agent did not quit");
  }
  Say("  The agent ended with exit code " + std::to_string(*code) + ".");
  const auto sightings = watch.Sightings();
  Say(sightings.empty() ? "  Its window was never visible." : "  !! " + sightings.front());

  Say("");
  Say("Step 5. Cleaning up.");
  if (HWND product = ProductWindow()) {
    ::PostMessageA(product, WM_CLOSE, 0, 0);
  }
  RemoveServiceStandin();
  RestoreHttpsHandler(previousHandler);
  Say("  The product window was closed and the service stand-in removed.");
  Say("  The autostart value \"Tessaly\" is: " + DescribeAutostart());
  return (*code == 0 && sightings.empty()) ? 0 : 1;
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
