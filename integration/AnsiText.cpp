#include "integration/AnsiText.h"

#include <cstdint>

namespace velmor {

std::optional<std::size_t> FindLastAnsiChar(AgentPlatform& os, std::string_view text, char wanted) {
  // A trail byte cannot be told from a single-byte character by looking back from the end, so the
  // scan runs forward and steps over each double-byte character whole.
  std::optional<std::size_t> found;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (os.IsDBCSLeadByte(static_cast<std::uint8_t>(text[i])) && i + 1 < text.size()) {
      ++i;
      continue;
    }
    if (text[i] == wanted) {
      found = i;
    }
  }
  return found;
}

std::wstring ExecutableFolder(AgentPlatform& os) {
  std::wstring path = os.GetModuleFileNameW();
  const std::size_t backslash = path.rfind(L'\\');
  if (backslash == std::wstring::npos) {
    return {};
  }
  path.resize(backslash + 1);
  return path;
}

}  // namespace velmor
