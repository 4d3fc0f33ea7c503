// The command message that any process may send the resident agent, and the takeover that makes a
// stuck first agent quit.
#include <optional>
#include <string_view>

#include "app/AgentWindow.h"
#include "app/AsciiCase.h"
#include "integration/AnsiText.h"
#include "peers/AgentContract.h"
#include "platform/ScopedHandles.h"

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
void MakeAgentQuit(AgentPlatform& os, WindowHandle other) {
  MessageResult ignored = 0;
  if (os.SendMessageTimeoutA(other, peers::kAgentCommandMessage, peers::kAgentCommandQuit, 0, win32::kSmtoAbortIfHung,
                             kQuitAnswerTimeoutMs, ignored)) {
    return;
  }
  if (!os.IsWindow(other)) {
    return;  // it ended meanwhile
  }
  const std::uint32_t processId = os.GetWindowThreadProcessId(other);
  if (processId == 0) {
    return;
  }
  const UniqueKernelHandle process(
      os, os.OpenProcess(win32::kProcessTerminate | win32::kSynchronize | win32::kProcessQueryLimitedInformation, false,
                         processId));
  if (!process) {
    return;
  }
  // With the handle open, the id cannot pass to another process: the window must still be this one's.
  if (os.GetWindowThreadProcessId(other) != processId || !IsAgentProcessToEnd(os, process.get(), processId)) {
    return;
  }
  if (os.TerminateProcess(process.get(), 0)) {
    os.WaitForSingleObject(process.get(), kHungAgentExitWaitMs);
  }
}

}  // namespace

void AgentWindow::OnAgentCommand(MessageWParam command, MessageLParam argument) {
  if (command == peers::kAgentCommandQuit) {
    if (argument == 0) {
      Close();
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
  if (other != kNoWindow) {
    MakeAgentQuit(os_, other);
  }
  state_.createInstanceMarker = false;  // keep the handle from the first pass; never create again
  RunStartSequence();
}

}  // namespace velmor
