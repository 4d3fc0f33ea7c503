// How the agent finds the product's main window and asks whether it answers. velmorctl and the
// package's actions find it the same way.
#pragma once

#include "platform/AgentPlatform.h"

namespace velmor {

// The product's main window, found by its class and caption; null when it is not there.
WindowHandle FindProductWindow(AgentPlatform& os);

// Whether the product's window answers (WM_NULL) within the agent's probe time and is not hung.
bool ProductAnswers(AgentPlatform& os, WindowHandle window);

}  // namespace velmor
