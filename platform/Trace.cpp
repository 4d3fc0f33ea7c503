#include "platform/Trace.h"

#include <array>
#include <charconv>

#include "peers/AgentContract.h"

namespace velmor {
namespace {

void AppendDecimal(std::string& text, std::uint32_t number) {
  std::array<char, 10> digits{};  // 4294967295 at most
  char* const first = digits.data();
  text.append(first, std::to_chars(first, first + digits.size(), number).ptr);
}

}  // namespace

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
