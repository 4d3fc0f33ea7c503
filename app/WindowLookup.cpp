#include "app/WindowLookup.h"

#include <cstddef>
#include <string_view>

#include "peers/AgentContract.h"
#include "peers/ProductPeers.h"
#include "platform/AsciiCase.h"
#include "platform/ScopedHandles.h"

namespace velmor {
namespace {

// Whether the window belongs to an agent of this session.
bool IsAgentWindow(AgentPlatform& os, WindowHandle window) {
  const std::uint32_t processId = os.GetWindowThreadProcessId(window);
  if (processId == 0) {
    return false;
  }
  const UniqueKernelHandle process(os, os.OpenProcess(win32::kProcessQueryLimitedInformation, false, processId));
  return process && IsAgentOfThisSession(os, process.get(), processId);
}

// No desktop has more than a handful of agents; a program that makes thousands of windows bearing
// the agent's name does not make the search walk them all, nor hide an agent behind a few of them.
constexpr std::size_t kAgentWindowLimit = 16;
constexpr std::size_t kNamedWindowWalkLimit = 256;

}  // namespace

WindowHandle FindProductWindow(AgentPlatform& os) {
  return os.FindWindowA(peers::kProductWindowClass, peers::kProductWindowCaption);
}

bool ProductAnswers(AgentPlatform& os, WindowHandle window) {
  MessageResult ignored = 0;
  return os.SendMessageTimeoutA(window, win32::kWmNull, 0, 0, win32::kSmtoAbortIfHung, kProductAnswerTimeoutMs,
                                ignored);
}

bool IsAgentOfThisSession(AgentPlatform& os, KernelHandle process, std::uint32_t processId) {
  // In UTF-16 a backslash is never part of another character.
  const std::wstring image = os.QueryFullProcessImageNameW(process);
  const std::wstring_view fileName = std::wstring_view(image).substr(image.rfind(L'\\') + 1);  // npos + 1: all
  if (!EqualsIgnoringAsciiCase(fileName, peers::kAgentExecutableName)) {
    return false;
  }
  std::uint32_t session = 0;
  std::uint32_t ownSession = 0;
  return os.ProcessIdToSessionId(processId, session) && os.ProcessIdToSessionId(os.GetCurrentProcessId(), ownSession) &&
         session == ownSession;
}

NamedWindows FindAgentWindows(AgentPlatform& os) {
  NamedWindows found;
  WindowHandle window = kNoWindow;
  for (std::size_t walked = 0;
       walked < kNamedWindowWalkLimit && found.agents.size() < kAgentWindowLimit &&
       (window = os.FindWindowExA(window, peers::kAgentWindowClass, peers::kAgentWindowCaption)) != kNoWindow;
       ++walked) {
    (IsAgentWindow(os, window) ? found.agents : found.others).push_back(window);
  }
  return found;
}

}  // namespace velmor
