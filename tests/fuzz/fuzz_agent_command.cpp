// Any process on the desktop can send the resident agent its command message with any parameters:
// only quit (0, 0) and open page (1, 0 to 3) may have an effect, and no parameter may reach past the
// page table.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "peers/AgentContract.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/host/sim/SimDesktop.h"

using velmor::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velmor::sim::SimDesktop desktop;
  desktop.StartProduct(velmor::sim::ProductStart::Visible);
  // A logon start with the product up: the agent stays resident and does nothing else.
  velmor::sim::SimProcess& agent = desktop.LaunchAgent(L"velmor.exe 1", "C:\\P\\velmor.exe");
  desktop.AdvanceBy(20);
  Require(!agent.Ended());

  constexpr std::size_t kCommandSize = sizeof(velmor::MessageWParam) + sizeof(velmor::MessageLParam) + 1;
  std::size_t expectedPages = 0;
  for (std::size_t offset = 0; offset + kCommandSize <= size && !agent.Ended(); offset += kCommandSize) {
    velmor::MessageWParam command = 0;
    velmor::MessageLParam argument = 0;
    std::memcpy(&command, data + offset, sizeof(command));
    std::memcpy(&argument, data + offset + sizeof(command), sizeof(argument));
    const std::uint8_t flags = data[offset + kCommandSize - 1];
    if ((flags & 2U) == 0) {
      command %= 4;  // half the time one of the small commands, so that the real ones come up often
    }
    const bool send = (flags & 1U) != 0;

    const bool opensPage = command == velmor::peers::kAgentCommandOpenPage && argument >= 0 &&
                           argument < static_cast<velmor::MessageLParam>(velmor::peers::kWebPages.size());
    const bool quits = command == velmor::peers::kAgentCommandQuit && argument == 0;
    if (send) {
      Require(desktop.Send(agent.AgentWindow(), velmor::peers::kAgentCommandMessage, command, argument) == 0);
    } else {
      desktop.Post(agent.AgentWindow(), velmor::peers::kAgentCommandMessage, command, argument);
      desktop.RunUntilIdle();
    }
    expectedPages += opensPage ? 1 : 0;
    Require(desktop.shellExecutes.size() == expectedPages);
    Require(agent.Ended() == quits);
  }
  return 0;
}
