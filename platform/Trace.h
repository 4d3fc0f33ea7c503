// The agent's trace: one short line per decision on the system's debug output channel, which costs
// next to nothing while nobody listens. Support reads it with `velmorctl trace` or any debug-output
// viewer. Each line reads "velmor <process id>: <event> key=value ...", and holds nothing that a user
// would not put in a support ticket.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor {

// One line, written when the object goes, at the end of the statement that made it:
//   TraceLine(os, "service").Add("attempts", 3).Add("result", 0);
class TraceLine {
 public:
  TraceLine(AgentPlatform& os, std::string_view event);
  TraceLine(const TraceLine&) = delete;
  TraceLine& operator=(const TraceLine&) = delete;
  ~TraceLine();

  TraceLine& Add(std::string_view key, std::string_view value);
  TraceLine& Add(std::string_view key, std::uint32_t number);
  // A literal is text: without this it would take the bool overload below.
  TraceLine& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
  TraceLine& Add(std::string_view key, bool yes) { return Add(key, yes ? std::string_view("yes") : "no"); }

 private:
  AgentPlatform& os_;
  std::string text_;
};

}  // namespace velmor
