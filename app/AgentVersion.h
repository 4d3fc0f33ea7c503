// The agent's version, as the release names it (N.N.N or N.N.N.N).
#pragma once

#include <string_view>

namespace velmor {

std::string_view AgentVersion();

}  // namespace velmor
