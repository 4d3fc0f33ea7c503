#include "integration/ExecutableFolder.h"

namespace velmor {

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
