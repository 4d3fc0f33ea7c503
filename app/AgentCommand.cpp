// The command message that any process may send the resident agent.
#include <string_view>

#include "app/AgentWindow.h"
#include "peers/AgentContract.h"
#include "platform/Trace.h"

namespace velmor {

namespace {

// What the agent does with a command; decided once, for the trace and the action alike.
struct CommandAction {
  enum Kind { Quit, OpenPage, Ignore } kind;
  std::size_t page;  // OpenPage only
  [[nodiscard]] TraceWord Name() const {
    return kind == Quit ? TraceWord("quit") : kind == OpenPage ? TraceWord("open-page") : TraceWord("ignored");
  }
};

// Only the table's own pages open; any other number, negative ones included, is ignored.
CommandAction DecideCommand(MessageWParam command, MessageLParam argument, std::size_t pageCount) {
  constexpr peers::AgentCommandMessage kQuit = peers::QuitCommand();
  if (command == kQuit.wParam && argument == kQuit.lParam) {
    return {CommandAction::Quit, 0};
  }
  if (command == peers::kAgentCommandOpenPage && argument >= 0 && static_cast<std::size_t>(argument) < pageCount) {
    return {CommandAction::OpenPage, static_cast<std::size_t>(argument)};
  }
  return {CommandAction::Ignore, 0};
}

}  // namespace

void AgentWindow::OnAgentCommand(MessageWParam command, MessageLParam argument) {
  const CommandAction action = DecideCommand(command, argument, webPages_.size());
  // The numbers are cut to 32 bits for the trace alone; the decision uses them whole.
  TraceLine(os_, "command")
      .Add("wparam", static_cast<std::uint32_t>(command))
      .Add("lparam", static_cast<std::uint32_t>(argument))
      .Add("action", action.Name());
  switch (action.kind) {
    case CommandAction::Quit:
      EndBecause("quit-command");
      break;
    case CommandAction::OpenPage:
      // Launching the browser can take a while: a sender is answered first, so it is not held up.
      os_.ReplyMessage(0);
      os_.ShellExecuteW(L"open", webPages_[action.page], win32::kSwRestore);
      break;
    case CommandAction::Ignore:
      break;
  }
}

}  // namespace velmor
