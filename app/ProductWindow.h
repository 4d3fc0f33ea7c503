// How the agent finds the product's main window. velmorctl and the package's actions find it the same
// way.
#pragma once

#include "platform/AgentPlatform.h"

namespace velmor {

// The product's main window, found by its class and caption; null when it is not there.
WindowHandle FindProductWindow(AgentPlatform& os);

}  // namespace velmor
