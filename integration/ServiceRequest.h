// Asking the product's service to bring the product up, with retries while it is not ready.
#pragma once

#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor {

// True when the service took the request. Every failure is shown in an error dialog first.
// Blocks the calling thread while it retries.
bool KickService(AgentPlatform& os);

}  // namespace velmor
