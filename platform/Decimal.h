// A number in decimal, appended to narrow or wide text. std::to_chars rather than std::to_string or
// std::to_wstring, which would link the printf family into the agent for these numbers.
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <string>

namespace velmor {

template <typename Char>
void AppendDecimal(std::basic_string<Char>& text, std::uint32_t number) {
  std::array<char, 10> digits{};  // 4294967295 at most
  char* const first = digits.data();
  char* const last = std::to_chars(first, first + digits.size(), number).ptr;
  text.append(first, last);  // ASCII digits widen one to one
}

}  // namespace velmor
