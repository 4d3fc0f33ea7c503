// velmorctl doctor: why the product did not come up on this desktop. It looks at everything a logon
// start depends on (the autostart value, the agent and the objects bearing its names, the product's
// service and window, the system) and changes nothing.
#pragma once

#include "platform/AgentPlatform.h"

namespace velmor::ctl {

enum class DoctorOutput { Text, Json };

// Runs every check and prints one line per check (ok, warning or problem) and, under a warning or a
// problem, its remedy; or the same as one JSON object. True when no problem was found.
bool RunDoctor(AgentPlatform& os, DoctorOutput output);

}  // namespace velmor::ctl
