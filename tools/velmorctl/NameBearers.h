// The windows that bear the agent's class and caption, as velmorctl reports them: those of agents,
// told from the others as the agents themselves tell them (app/SingleInstance.h), and those of other
// programs, each with its process id and image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/AgentPlatform.h"

namespace velmor::ctl {

struct NameBearer {
  WindowHandle window{};
  std::uint32_t processId = 0;
  std::wstring image;         // empty when it cannot be read
  Win32Status openError = 0;  // why its process could not be opened to read it, 0 when it could
};

struct NameBearers {
  std::vector<NameBearer> agents;  // from the top of the z-order
  std::vector<NameBearer> others;
  // Whether a window that is not known to be another program's bears the name: an agent, or one whose
  // process velmorctl may not look at (an agent started elevated, or a program).
  [[nodiscard]] bool MayHoldAnAgent() const;
};

NameBearers FindNameBearers(AgentPlatform& os);

// "process 196, C:\Folder\program.exe", or what kept the image from being read.
std::wstring Describe(const NameBearer& bearer);

}  // namespace velmor::ctl
