// velmorctl: the console companion shipped beside the agent. Installers, uninstallers and support use
// it to ask whether an agent is resident, to make it quit and wait for its end, to have it open one
// of the maker's pages, to read its trace, and to find why the product did not come up. It finds the
// agent and speaks to it exactly as other agents do: by the agent window's class and caption, with the
// command message.
#include <windows.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "VelmorVersion.h"
#include "peers/AgentContract.h"
#include "platform/win32/Win32Handles.h"
#include "tools/velmorctl/Console.h"
#include "tools/velmorctl/Doctor.h"
#include "tools/velmorctl/TraceListener.h"

namespace {

using velmor::UniqueWin32Handle;
using velmor::ctl::Decimal;
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

// Long enough for an agent that is in its service request (about 20 s) to get to the command.
constexpr DWORD kDefaultWaitSeconds = 30;
constexpr DWORD kMaxWaitSeconds = 24 * 60 * 60;

// The usage text, up to the page names and from them on.
constexpr std::wstring_view kUsageHead =
    L"velmorctl: drives the Tessaly desktop agent (velmor.exe) of this desktop.\n"
    L"\n"
    L"usage:\n"
    L"  velmorctl status                 is an agent resident: its process id and image path\n"
    L"  velmorctl quit [--wait SECONDS]  make the agent quit, and wait until its process has ended\n"
    L"                                   (at most 30 seconds unless given; 0 does not wait)\n"
    L"  velmorctl open PAGE              have the agent open a page in the user's browser:\n"
    L"                                   ";
constexpr std::wstring_view kUsageTail =
    L"\n"
    L"  velmorctl trace [--seconds N]    print the agents' trace lines as they come, until interrupted\n"
    L"                                   or for N seconds\n"
    L"  velmorctl doctor [--json]        why the product may not come up: one line per check (ok, warning\n"
    L"                                   or problem) with each problem's remedy; it changes nothing\n"
    L"  velmorctl --version              the version of this program and of the agent it ships with\n"
    L"  velmorctl help                   this text\n"
    L"\n"
    L"exit codes:\n"
    L"  0  done\n"
    L"  1  no agent is resident (doctor: a problem was found)\n"
    L"  2  usage error\n"
    L"  3  timed out: the agent's process had not ended when the wait was over\n"
    L"  4  access denied: the agent runs with rights that this program lacks\n"
    L"  5  another program (a debugger or debug-output viewer) already listens to debug output,\n"
    L"     or holds one of its names\n";

// The usage text, with the names of the contract's pages: "home, contact, feedback or version".
std::wstring Usage() {
  std::wstring usage(kUsageHead);
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

// The resident agent's window: the one that bears the agent's class and caption.
HWND FindAgent() {
  const std::string className(velmor::peers::kAgentWindowClass);
  const std::string caption(velmor::peers::kAgentWindowCaption);
  return FindWindowA(className.c_str(), caption.c_str());
}

// The resident agent and its process, opened with the access a command needs.
struct ResidentAgent {
  HWND window;  // null when no agent is resident
  DWORD processId;
  // Null when the process could not be opened: it ended meanwhile, or access was denied (GetLastError
  // tells which).
  UniqueWin32Handle process;
};

ResidentAgent OpenResidentAgent(DWORD access) {
  const HWND window = FindAgent();
  DWORD processId = 0;
  if (window != nullptr) {
    GetWindowThreadProcessId(window, &processId);
  }
  return {window, processId, UniqueWin32Handle(window != nullptr ? OpenProcess(access, FALSE, processId) : nullptr)};
}

// Whether the agent's process could not be opened for lack of rights (rather than being gone).
bool AccessWasDenied(const ResidentAgent& agent) {
  return agent.window != nullptr && GetLastError() == ERROR_ACCESS_DENIED;
}

int NoAgent() {
  Say(L"No agent is resident.\n");
  return kNoAgent;
}

int AccessDenied(std::wstring_view what) {
  Write(STD_ERROR_HANDLE, std::wstring(L"velmorctl: access denied: ") + std::wstring(what) + L"\n");
  return kAccessDenied;
}

// Sends the command; maps a failure to the exit code, or kDone when the agent has it.
int PostCommand(HWND agent, const AgentCommandMessage& command) {
  if (PostMessageA(agent, command.message, command.wParam, command.lParam) != FALSE) {
    return kDone;
  }
  if (GetLastError() == ERROR_ACCESS_DENIED) {
    return AccessDenied(L"the agent does not accept commands from this program");
  }
  return NoAgent();  // its window went away meanwhile
}

int Status() {
  const ResidentAgent agent = OpenResidentAgent(PROCESS_QUERY_LIMITED_INFORMATION);
  if (agent.process.get() == nullptr) {
    if (AccessWasDenied(agent)) {
      Say(L"An agent is resident.\nprocess id: " + Decimal(agent.processId) + L"\n");
      return AccessDenied(L"the agent's image path cannot be read");
    }
    return NoAgent();  // none, or it ended meanwhile
  }
  std::wstring path(32768, L'\0');
  auto size = static_cast<DWORD>(path.size());
  if (QueryFullProcessImageNameW(agent.process.get(), 0, path.data(), &size) == FALSE) {
    size = 0;
  }
  path.resize(size);
  Say(L"An agent is resident.\nprocess id: " + Decimal(agent.processId) + L"\nimage path: " + path + L"\n");
  return kDone;
}

int Quit(DWORD waitSeconds) {
  // The process is opened before the command is sent, so that its end can be seen even once its
  // id is free again.
  const ResidentAgent agent = OpenResidentAgent(SYNCHRONIZE);
  if (agent.process.get() == nullptr) {
    return AccessWasDenied(agent) ? AccessDenied(L"the agent's process cannot be waited for") : NoAgent();
  }
  constexpr AgentCommandMessage kQuit = velmor::peers::QuitCommand();
  if (PostMessageA(agent.window, kQuit.message, kQuit.wParam, kQuit.lParam) == FALSE &&
      GetLastError() == ERROR_ACCESS_DENIED) {
    return AccessDenied(L"the agent does not accept commands from this program");
  }
  // A window gone before the post means the process is ending: the wait below sees it.
  if (WaitForSingleObject(agent.process.get(), waitSeconds * 1000) != WAIT_OBJECT_0) {
    Say(L"The agent (process " + Decimal(agent.processId) + L") has not ended within " + Decimal(waitSeconds) +
        L" seconds.\n");
    return kTimedOut;
  }
  Say(L"The agent (process " + Decimal(agent.processId) + L") has ended.\n");
  return kDone;
}

int Open(std::wstring_view pageName) {
  const auto& pages = velmor::peers::kWebPages;
  for (std::size_t index = 0; index < pages.size(); ++index) {
    const velmor::peers::WebPage& page = pages[index];
    if (page.name != pageName) {
      continue;
    }
    const HWND agent = FindAgent();
    if (agent == nullptr) {
      return NoAgent();
    }
    const int result = PostCommand(agent, velmor::peers::OpenPageCommand(index));
    if (result == kDone) {
      Say(L"Asked the agent to open the " + std::wstring(page.name) + L" page.\n");
    }
    return result;
  }
  return UsageError(L"unknown page \"" + std::wstring(pageName) + L"\"");
}

int Run(int argc, wchar_t** argv) {
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
    return Status();
  }
  if (command == L"quit") {
    DWORD waitSeconds = kDefaultWaitSeconds;
    if (argc == 4 && std::wstring_view(argv[2]) == L"--wait" && ParseSeconds(argv[3], waitSeconds)) {
      return Quit(waitSeconds);
    }
    if (argc == 2) {
      return Quit(waitSeconds);
    }
    return UsageError(L"quit takes only --wait SECONDS, a whole number up to 86400");
  }
  if (command == L"open" && argc == 3) {
    return Open(argv[2]);
  }
  if (command == L"trace") {
    DWORD seconds = 0;
    if (argc == 2 || (argc == 4 && std::wstring_view(argv[2]) == L"--seconds" && ParseSeconds(argv[3], seconds))) {
      return velmor::ctl::PrintAgentTrace(seconds) ? kDone : kChannelBusy;
    }
    return UsageError(L"trace takes only --seconds N, a whole number up to 86400");
  }
  if (command == L"doctor") {
    if (argc == 2 || (argc == 3 && std::wstring_view(argv[2]) == L"--json")) {
      const auto output = argc == 3 ? velmor::ctl::DoctorOutput::Json : velmor::ctl::DoctorOutput::Text;
      return velmor::ctl::RunDoctor(output) ? kDone : kProblemFound;
    }
    return UsageError(L"doctor takes only --json");
  }
  return UsageError(L"unknown command or wrong arguments");
}

}  // namespace

// mingw: linked with -municode for this wide entry point.
int wmain(int argc, wchar_t** argv) {
  return Run(argc, argv);
}
