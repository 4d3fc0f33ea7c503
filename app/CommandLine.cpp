#include "app/CommandLine.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "peers/AgentContract.h"
#include "platform/AsciiCase.h"

namespace velmor {
namespace {

bool IsSeparator(wchar_t c) {
  // Compared unsigned, so that no code unit can pass as a separator by sign.
  return static_cast<std::uint32_t>(c) <= 32U;
}

// Whether the lower-cased argument is the keyword (ASCII, lower case).
bool IsKeyword(std::wstring_view lowered, std::string_view keyword) {
  return std::equal(lowered.begin(), lowered.end(), keyword.begin(), keyword.end(),
                    [](wchar_t a, char k) { return a == static_cast<wchar_t>(static_cast<unsigned char>(k)); });
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

StartArgument ClassifyStartArgument(std::wstring_view commandLine) {
  const std::optional<std::wstring> first = FirstArgument(commandLine);
  if (!first) {
    return StartArgument::None;
  }
  // The keywords are matched without regard to ASCII case: the argument is lower-cased once.
  const std::wstring lowered = LowerAscii(*first);
  if (IsKeyword(lowered, peers::kFirstStartKeyword)) {
    return StartArgument::FirstStart;
  }
  if (IsKeyword(lowered, peers::kRestartOnlyKeyword)) {
    return StartArgument::RestartOnly;
  }
  return StartArgument::Other;
}

}  // namespace velmor
