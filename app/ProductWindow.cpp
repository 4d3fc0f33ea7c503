#include "app/ProductWindow.h"

#include "peers/ProductPeers.h"

namespace velmor {

WindowHandle FindProductWindow(AgentPlatform& os) {
  return os.FindWindowA(peers::kProductWindowClass, peers::kProductWindowCaption);
}

}  // namespace velmor
