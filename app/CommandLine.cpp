#include "app/CommandLine.h"

#include <cstdint>
#include <utility>

namespace velmor {
namespace {

bool IsSeparator(wchar_t c) {
  // Compared unsigned, so that no code unit can pass as a separator by sign.
  return static_cast<std::uint32_t>(c) <= 32U;
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine) {
  std::vector<std::wstring> tokens;
  std::size_t i = 0;
  while (i < commandLine.size()) {
    if (IsSeparator(commandLine[i])) {
      ++i;
      continue;
    }
    std::wstring token;
    bool quoted = false;
    for (; i < commandLine.size() && (quoted || !IsSeparator(commandLine[i])); ++i) {
      if (commandLine[i] == L'"') {
        quoted = !quoted;
      } else {
        token += commandLine[i];
      }
    }
    if (!token.empty()) {
      tokens.push_back(std::move(token));
    }
  }
  return tokens;
}

std::optional<std::wstring> FirstArgument(std::wstring_view commandLine) {
  std::vector<std::wstring> tokens = SplitCommandLine(commandLine);
  if (tokens.size() < 2) {
    return std::nullopt;
  }
  return std::move(tokens[1]);
}

}  // namespace velmor
