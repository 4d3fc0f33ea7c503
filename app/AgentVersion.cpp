#include "app/AgentVersion.h"

#include "VelmorVersion.h"

namespace velmor {

std::string_view AgentVersion() {
  return VELMOR_VERSION_TEXT;
}

}  // namespace velmor
