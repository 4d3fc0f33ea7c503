#include "platform/Trace.h"

#include "peers/AgentContract.h"
#include "platform/Decimal.h"

namespace velmor {

TraceLine::TraceLine(AgentPlatform& os, std::string_view event) : os_(os), text_(peers::kAgentTraceName) {
  text_ += ' ';
  AppendDecimal(text_, os_.GetCurrentProcessId());
  text_ += ": ";
  text_ += event;
}

TraceLine::~TraceLine() {
  text_ += '\n';
  os_.OutputDebugStringA(text_);
}

TraceLine& TraceLine::Add(std::string_view key, std::string_view value) {
  text_ += ' ';
  text_ += key;
  text_ += '=';
  text_ += value;
  return *this;
}

TraceLine& TraceLine::Add(std::string_view key, std::uint32_t number) {
  text_ += ' ';
  text_ += key;
  text_ += '=';
  AppendDecimal(text_, number);
  return *this;
}

}  // namespace velmor
