// How the agent finds the windows it deals with: the product's main window, and the agents' windows,
// told from the windows of other programs that bear the same class and caption. velmorctl finds them
// the same way.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/AgentPlatform.h"

namespace velmor {

// The product's main window, found by its class and caption; null when it is not there.
WindowHandle FindProductWindow(AgentPlatform& os);

// Bringing a window forward waits on its thread. A product window that does not answer within this
// counts as not shown, so that a hung product never holds up the agent.
inline constexpr std::uint32_t kProductAnswerTimeoutMs = 200;
// Whether the product's window answers (WM_NULL) within kProductAnswerTimeoutMs and is not hung.
bool ProductAnswers(AgentPlatform& os, WindowHandle window);

// Whether the process runs the agent in this process's session: its image is velmor.exe and its
// session is this one's. `process` needs PROCESS_QUERY_LIMITED_INFORMATION.
bool IsAgentOfThisSession(AgentPlatform& os, KernelHandle process, std::uint32_t processId);

// The top-level windows that bear the agent's class and caption, from the top of the z-order: those of
// agents of this session, and those of other programs (any program may give a window of its own the
// agent's name), among them any whose process cannot be looked at.
struct NamedWindows {
  std::vector<WindowHandle> agents;
  std::vector<WindowHandle> others;
};
NamedWindows FindAgentWindows(AgentPlatform& os);

}  // namespace velmor
