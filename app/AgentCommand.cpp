// The command message that any process may send the resident agent.
#include <string_view>

#include "app/AgentWindow.h"
#include "peers/AgentContract.h"
#include "platform/Trace.h"

namespace velmor {

namespace {

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

}  // namespace velmor
