// velmorctl: the console companion shipped beside the agent. Installers, uninstallers and support use
// it to ask whether an agent is resident, to make it quit and wait for its end, to have it open one
// of the maker's pages, to read its trace, and to find why the product did not come up. It finds the
// agents as they find each other (app/SingleInstance.h): by the agent window's class and caption,
// counting only the windows of velmor.exe processes of this session, and speaks to them with the
// command message. A window of another program that bears the agent's name is named and left alone.
#include <windows.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "VelmorVersion.h"
#include "peers/AgentContract.h"
#include "platform/ScopedHandles.h"
#include "platform/win32/Win32Platform.h"
#include "tools/velmorctl/Console.h"
#include "tools/velmorctl/Doctor.h"
#include "tools/velmorctl/DoctorJudges.h"
#include "tools/velmorctl/NameBearers.h"
#include "tools/velmorctl/TraceListener.h"

namespace {

using velmor::AgentPlatform;
using velmor::WindowHandle;
using velmor::ctl::Decimal;
using velmor::ctl::Describe;
using velmor::ctl::FindNameBearers;
using velmor::ctl::NameBearer;
using velmor::ctl::NameBearers;
using velmor::ctl::Say;
using velmor::ctl::Write;
using velmor::peers::AgentCommandMessage;

// The exit codes, as the usage text documents them.
enum ExitCode : int {
  kDone = 0,
  kNoAgent = 1,
  kProblemFound = 1,  // doctor's
  kUsageError = 2,
  kTimedOut = 3,
  kAccessDenied = 4,
  kChannelBusy = 5,
};

// Long enough for an agent in its service request's retries (about 20 s) to get to the command. A service whose
// handler does not return holds the agent longer, up to the service manager's time-out on top: installers
// pass 60 (docs/INSTALLERS.md).
constexpr DWORD kDefaultWaitSeconds = 30;
constexpr DWORD kMaxWaitSeconds = 24 * 60 * 60;

// The usage text, up to the default wait, from there to the page names, and from them on.
constexpr std::wstring_view kUsageHead =
    L"velmorctl: drives the Tessaly desktop agent (velmor.exe) of this desktop.\n"
    L"\n"
    L"usage:\n"
    L"  velmorctl status                 is an agent resident: its process id and image path\n"
    L"  velmorctl quit [--wait SECONDS]  make the agent quit, and wait until its process has ended\n"
    L"                                   (at most ";
constexpr std::wstring_view kUsageMiddle =
    L" seconds unless given; 0 only asks, and does not wait)\n"
    L"  velmorctl open PAGE              have the agent open a page in the user's browser:\n"
    L"                                   ";
constexpr std::wstring_view kUsageTail =
    L"\n"
    L"  velmorctl trace [--seconds N]    print the agents' trace lines as they come, until interrupted,\n"
    L"                                   for N seconds, or until nobody reads the output any more\n"
    L"  velmorctl doctor [--json]        why the product may not come up: one line per check (ok, warning\n"
    L"                                   or problem) with each problem's remedy; it changes nothing\n"
    L"  velmorctl --version              the version of this program and of the agent it ships with\n"
    L"  velmorctl help                   this text\n"
    L"\n"
    L"exit codes:\n"
    L"  0  done (quit: the agent's process has ended; with --wait 0: the agent has the command)\n"
    L"  1  no agent is resident (doctor: a problem was found)\n"
    L"  2  usage error\n"
    L"  3  timed out: the agent's process had not ended when the wait was over\n"
    L"  4  access denied: the agent runs with rights that this program lacks\n"
    L"  5  another program (a debugger or debug-output viewer) already listens to debug output,\n"
    L"     or holds one of its names\n";

// The usage text, with the names of the contract's pages: "home, contact, feedback or version".
std::wstring Usage() {
  std::wstring usage(kUsageHead);
  usage += std::to_wstring(kDefaultWaitSeconds);
  usage += kUsageMiddle;
  const auto& pages = velmor::peers::kWebPages;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    usage += i == 0 ? L"" : i + 1 == pages.size() ? L" or " : L", ";
    usage += pages[i].name;
  }
  return usage + std::wstring(kUsageTail);
}

int UsageError(std::wstring_view problem) {
  Write(STD_ERROR_HANDLE, std::wstring(L"velmorctl: ") + std::wstring(problem) + L"\n\n");
  Write(STD_ERROR_HANDLE, Usage());
  return kUsageError;
}

// Parses a whole decimal number of seconds, at most kMaxWaitSeconds.
bool ParseSeconds(std::wstring_view text, DWORD& seconds) {
  std::string ascii;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') {
      return false;
    }
    ascii += static_cast<char>(c);
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (ascii.empty() || error != std::errc() || end != ascii.data() + ascii.size() || value > kMaxWaitSeconds) {
    return false;
  }
  seconds = value;
  return true;
}

int NoAgent() {
  Say(L"No agent is resident.\n");
  return kNoAgent;
}

int AccessDenied(std::wstring_view what) {
  Write(STD_ERROR_HANDLE, std::wstring(L"velmorctl: access denied: ") + std::wstring(what) + L"\n");
  return kAccessDenied;
}

// The windows bearing the agent's name; those that are not an agent's are named on the error stream,
// and left alone.
NameBearers FindAgents(AgentPlatform& os) {
  NameBearers bearers = FindNameBearers(os);
  for (const NameBearer& other : bearers.others) {
    Write(STD_ERROR_HANDLE, L"velmorctl: a window that is not an agent's bears the agent's name (" + Describe(other) +
                                L"); it is left alone\n");
  }
  return bearers;
}

// Without an agent: 4 when a window bearing the agent's name belongs to a process that this program
// may not look at (an agent started elevated, or a program), else 1.
int NoAgentFound(const NameBearers& bearers) {
  if (bearers.MayHoldAnAgent()) {
    return AccessDenied(L"the process of the window bearing the agent's name cannot be looked at");
  }
  return NoAgent();
}

// Sends the command; maps a failure to the exit code, or kDone when the agent has it. A window gone
// meanwhile is an agent ending.
int PostCommand(AgentPlatform& os, WindowHandle agent, const AgentCommandMessage& command) {
  if (os.PostMessageA(agent, command.message, command.wParam, command.lParam)) {
    return kDone;
  }
  if (os.GetLastError() == velmor::win32::kErrorAccessDenied) {
    return AccessDenied(L"the agent does not accept commands from this program");
  }
  return kNoAgent;
}

std::wstring AgentNamed(const NameBearer& agent) {
  return L"The agent (process " + Decimal(agent.processId) + L")";
}

int Status(AgentPlatform& os) {
  const NameBearers bearers = FindAgents(os);
  if (bearers.agents.empty()) {
    return NoAgentFound(bearers);
  }
  std::wstring text = bearers.agents.size() == 1
                          ? std::wstring(L"An agent is resident.\n")
                          : Decimal(static_cast<std::uint32_t>(bearers.agents.size())) + L" agents are resident.\n";
  for (const NameBearer& agent : bearers.agents) {
    text += L"process id: " + Decimal(agent.processId) + L"\nimage path: " + agent.image + L"\n";
  }
  Say(text);
  return kDone;
}

// Asks every agent to quit and, unless `waitSeconds` is 0, waits until each one's process has ended.
int Quit(AgentPlatform& os, DWORD waitSeconds) {
  const NameBearers bearers = FindAgents(os);
  if (bearers.agents.empty()) {
    return NoAgentFound(bearers);
  }
  // Each process is opened before the command is sent, so that its end can be seen even once its id
  // is free again. One that cannot be opened for another reason than rights has ended already.
  std::vector<velmor::UniqueKernelHandle> processes;
  for (const NameBearer& agent : bearers.agents) {
    velmor::UniqueKernelHandle process(os, os.OpenProcess(velmor::win32::kSynchronize, false, agent.processId));
    if (!process && os.GetLastError() == velmor::win32::kErrorAccessDenied) {
      return AccessDenied(L"the agent's process cannot be waited for");
    }
    processes.push_back(std::move(process));
  }
  for (const NameBearer& agent : bearers.agents) {
    if (PostCommand(os, agent.window, velmor::peers::QuitCommand()) == kAccessDenied) {
      return kAccessDenied;
    }
  }
  if (waitSeconds == 0) {
    for (const NameBearer& agent : bearers.agents) {
      Say(L"Asked the agent (process " + Decimal(agent.processId) + L") to quit.\n");
    }
    return kDone;
  }
  const ULONGLONG deadline = GetTickCount64() + 1000ULL * waitSeconds;
  int result = kDone;
  for (std::size_t i = 0; i < processes.size(); ++i) {
    const ULONGLONG now = GetTickCount64();
    const auto left = static_cast<std::uint32_t>(now < deadline ? deadline - now : 0);
    if (processes[i] && os.WaitForSingleObject(processes[i].get(), left) != velmor::win32::kWaitObject0) {
      Say(AgentNamed(bearers.agents[i]) + L" has not ended within " + Decimal(waitSeconds) + L" seconds.\n");
      result = kTimedOut;
    } else {
      Say(AgentNamed(bearers.agents[i]) + L" has ended.\n");
    }
  }
  return result;
}

int Open(AgentPlatform& os, std::wstring_view pageName) {
  const auto& pages = velmor::peers::kWebPages;
  for (std::size_t index = 0; index < pages.size(); ++index) {
    const velmor::peers::WebPage& page = pages[index];
    if (page.name != pageName) {
      continue;
    }
    const NameBearers bearers = FindAgents(os);
    if (bearers.agents.empty()) {
      return NoAgentFound(bearers);
    }
    const int result = PostCommand(os, bearers.agents.front().window, velmor::peers::OpenPageCommand(index));
    if (result == kDone) {
      Say(L"Asked the agent to open the " + std::wstring(page.name) + L" page.\n");
    } else if (result == kNoAgent) {
      return NoAgent();
    }
    return result;
  }
  return UsageError(L"unknown page \"" + std::wstring(pageName) + L"\"");
}

int Run(AgentPlatform& os, int argc, wchar_t** argv) {
  if (argc < 2) {
    return UsageError(L"no command given");
  }
  const std::wstring_view command = argv[1];
  if (command == L"help" || command == L"--help" || command == L"/?") {
    Say(Usage());
    return kDone;
  }
  if (command == L"--version" && argc == 2) {
    const std::string_view version = VELMOR_VERSION_TEXT;  // the build's, as the agent's own
    Say(std::wstring(version.begin(), version.end()) + L"\n");
    return kDone;
  }
  if (command == L"status" && argc == 2) {
    return Status(os);
  }
  if (command == L"quit") {
    DWORD waitSeconds = kDefaultWaitSeconds;
    if (argc == 4 && std::wstring_view(argv[2]) == L"--wait" && ParseSeconds(argv[3], waitSeconds)) {
      return Quit(os, waitSeconds);
    }
    if (argc == 2) {
      return Quit(os, waitSeconds);
    }
    return UsageError(L"quit takes only --wait SECONDS, a whole number up to 86400");
  }
  if (command == L"open" && argc == 3) {
    return Open(os, argv[2]);
  }
  if (command == L"trace") {
    DWORD seconds = 0;
    if (argc == 2 || (argc == 4 && std::wstring_view(argv[2]) == L"--seconds" && ParseSeconds(argv[3], seconds))) {
      return velmor::ctl::PrintAgentTrace(os, seconds) ? kDone : kChannelBusy;
    }
    return UsageError(L"trace takes only --seconds N, a whole number up to 86400");
  }
  if (command == L"doctor") {
    if (argc == 2 || (argc == 3 && std::wstring_view(argv[2]) == L"--json")) {
      const auto output = argc == 3 ? velmor::ctl::DoctorOutput::Json : velmor::ctl::DoctorOutput::Text;
      return velmor::ctl::RunDoctor(os, output) ? kDone : kProblemFound;
    }
    constexpr std::wstring_view kDoctorUsage = L"doctor takes only --json";
    for (int i = 2; i < argc; ++i) {
      if (std::wstring_view(argv[i]) == L"--json") {  // a script asked for JSON: it gets the error so
        Say(velmor::ctl::JsonUsageError(kDoctorUsage));
        return kUsageError;
      }
    }
    return UsageError(kDoctorUsage);
  }
  return UsageError(L"unknown command or wrong arguments");
}

}  // namespace

// mingw: linked with -municode for this wide entry point.
int wmain(int argc, wchar_t** argv) {
  // The agent's own platform: the same calls, and DLLs loaded from the system folder only.
  const std::unique_ptr<velmor::AgentPlatform> os = velmor::CreateWin32Platform();
  return Run(*os, argc, argv);
}
