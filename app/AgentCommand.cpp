// The command message that any process may send the resident agent, and the takeover that makes a
// stuck first agent quit.
#include <optional>
#include <string_view>

#include "app/AgentWindow.h"
#include "app/AsciiCase.h"
#include "integration/AnsiText.h"
#include "peers/AgentContract.h"
#include "platform/ScopedHandles.h"
#include "platform/Trace.h"

namespace velmor {

namespace {

// A healthy agent handles the quit command within milliseconds. The one stretch in which a healthy
// agent pumps no messages for longer is its service request's retries (up to about 20 s), in the
// rare case that it took over itself shortly before; it would quit right after them anyway, so
// ending it then changes only the moment. Five seconds without an answer therefore counts as hung.
constexpr std::uint32_t kQuitAnswerTimeoutMs = 5000;
// How long to wait for a hung agent's process to go after it was ended.
constexpr std::uint32_t kHungAgentExitWaitMs = 5000;

// Ending a process is safe only for an agent: its image is velmor.exe, it runs in this session, and
// its integrity level is not above this agent's.
bool IsAgentProcessToEnd(AgentPlatform& os, KernelHandle process, std::uint32_t processId) {
  const AnsiString image = os.QueryFullProcessImageNameA(process);
  const std::optional<std::size_t> backslash = FindLastAnsiChar(os, image, '\\');
  const std::string_view fileName = std::string_view(image).substr(backslash ? *backslash + 1 : 0);
  if (!EqualsIgnoringAsciiCase(fileName, peers::kAgentExecutableName)) {
    return false;
  }
  std::uint32_t session = 0;
  std::uint32_t ownSession = 0;
  if (!os.ProcessIdToSessionId(processId, session) || !os.ProcessIdToSessionId(os.GetCurrentProcessId(), ownSession) ||
      session != ownSession) {
    return false;
  }
  const std::optional<std::uint32_t> level = os.GetProcessIntegrityLevel(process);
  const std::optional<std::uint32_t> ownLevel = os.GetProcessIntegrityLevel(os.GetCurrentProcess());
  return level && ownLevel && *level <= *ownLevel;
}

// Makes the other agent quit and waits until it has released its marker handle. An agent that does
// not answer in time while its window still exists hangs: its process is ended, so that no hung
// twin stays findable under the agent's caption. Any other owner of such a window is left alone.
// Returns what became of it, for the trace.
std::string_view MakeAgentQuit(AgentPlatform& os, WindowHandle other) {
  MessageResult ignored = 0;
  if (os.SendMessageTimeoutA(other, peers::kAgentCommandMessage, peers::kAgentCommandQuit, 0, win32::kSmtoAbortIfHung,
                             kQuitAnswerTimeoutMs, ignored)) {
    return "quit";
  }
  if (!os.IsWindow(other)) {
    return "gone";  // it ended meanwhile
  }
  const std::uint32_t processId = os.GetWindowThreadProcessId(other);
  if (processId == 0) {
    return "gone";
  }
  const UniqueKernelHandle process(
      os, os.OpenProcess(win32::kProcessTerminate | win32::kSynchronize | win32::kProcessQueryLimitedInformation, false,
                         processId));
  if (!process) {
    return "hung-left-alone";
  }
  // With the handle open, the id cannot pass to another process: the window must still be this one's.
  if (os.GetWindowThreadProcessId(other) != processId || !IsAgentProcessToEnd(os, process.get(), processId)) {
    return "hung-left-alone";
  }
  if (!os.TerminateProcess(process.get(), 0)) {
    return "hung-not-ended";
  }
  os.WaitForSingleObject(process.get(), kHungAgentExitWaitMs);
  return "hung-ended";
}

// The command as the trace names it.
std::string_view DescribeCommand(MessageWParam command, MessageLParam argument, std::size_t pageCount) {
  if (command == peers::kAgentCommandQuit) {
    return argument == 0 ? "quit" : "ignored";
  }
  if (command == peers::kAgentCommandOpenPage && argument >= 0 && static_cast<std::size_t>(argument) < pageCount) {
    return "open-page";
  }
  return "ignored";
}

}  // namespace

void AgentWindow::OnAgentCommand(MessageWParam command, MessageLParam argument) {
  const std::string_view action = DescribeCommand(command, argument, webPages_.size());
  // The numbers are cut to 32 bits for the trace alone; the decision below uses them whole.
  TraceLine(os_, "command")
      .Add("wparam", static_cast<std::uint32_t>(command))
      .Add("lparam", static_cast<std::uint32_t>(argument))
      .Add("action", action);
  if (command == peers::kAgentCommandQuit) {
    if (argument == 0) {
      EndBecause("quit-command");
    }
    return;
  }
  if (command == peers::kAgentCommandOpenPage) {
    // Only the table's own entries; any other number, negative ones included, is ignored.
    if (argument >= 0 && static_cast<std::size_t>(argument) < webPages_.size()) {
      // Launching the browser can take a while: a sender is answered first, so it is not held up.
      os_.ReplyMessage(0);
      os_.ShellExecuteW(L"open", webPages_[static_cast<std::size_t>(argument)], win32::kSwRestore);
    }
  }
}

void AgentWindow::TakeOverFromStuckAgent() {
  StopAllTimers();

  // The agent that holds the caption; this one is still called "Shell" and is not found.
  const WindowHandle other = os_.FindWindowA(peers::kAgentWindowClass, peers::kAgentWindowCaption);
  const std::string_view outcome = other != kNoWindow ? MakeAgentQuit(os_, other) : "none-found";
  TraceLine(os_, "takeover").Add("first-agent", outcome);
  state_.createInstanceMarker = false;  // keep the handle from the first pass; never create again
  RunStartSequence();
}

}  // namespace velmor
