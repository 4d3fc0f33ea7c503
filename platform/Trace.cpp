#include "platform/Trace.h"

#include "peers/AgentContract.h"
#include "platform/Decimal.h"

namespace velmor {

std::string TraceLinePrefix(std::uint32_t processId) {
  std::string prefix(peers::kAgentTraceName);
  prefix += ' ';
  AppendDecimal(prefix, processId);
  return prefix + ": ";
}

TraceLine::TraceLine(AgentPlatform& os, const TraceEvent& event)
    : os_(os), text_(TraceLinePrefix(os.GetCurrentProcessId())) {
  text_ += event.Text();
}

TraceLine::~TraceLine() {
  text_ += '\n';
  os_.OutputDebugStringA(text_);
}

TraceLine& TraceLine::Add(const TraceKey& key, const TraceWord& word) {
  return AddText(key, word.Text());
}

TraceLine& TraceLine::Add(const TraceKey& key, std::uint32_t number) {
  text_ += ' ';
  text_ += key.Text();
  text_ += '=';
  AppendDecimal(text_, number);
  return *this;
}

TraceLine& TraceLine::AddText(const TraceKey& key, std::string_view text) {
  text_ += ' ';
  text_ += key.Text();
  text_ += '=';
  text_ += text;
  return *this;
}

}  // namespace velmor
