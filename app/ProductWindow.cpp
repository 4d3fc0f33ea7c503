#include "app/ProductWindow.h"

#include "peers/AgentTimes.h"
#include "peers/ProductPeers.h"

namespace velmor {

WindowHandle FindProductWindow(AgentPlatform& os) {
  return os.FindWindowA(peers::kProductWindowClass, peers::kProductWindowCaption);
}

bool ProductAnswers(AgentPlatform& os, WindowHandle window) {
  MessageResult ignored = 0;
  return os.SendMessageTimeoutA(window, win32::kWmNull, 0, 0, win32::kSmtoAbortIfHung, times::kProductAnswerTimeoutMs,
                                ignored);
}

}  // namespace velmor
