#include "tools/velmorctl/NameBearers.h"

#include <algorithm>

#include "app/SingleInstance.h"
#include "platform/ScopedHandles.h"
#include "tools/velmorctl/Console.h"

namespace velmor::ctl {
namespace {

NameBearer Bearer(AgentPlatform& os, WindowHandle window) {
  NameBearer bearer{window, os.GetWindowThreadProcessId(window), {}, 0};
  const UniqueKernelHandle process(os, os.OpenProcess(win32::kProcessQueryLimitedInformation, false, bearer.processId));
  if (!process) {
    bearer.openError = os.GetLastError();
    return bearer;
  }
  bearer.image = os.QueryFullProcessImageNameW(process.get());
  return bearer;
}

}  // namespace

bool NameBearers::MayHoldAnAgent() const {
  return !agents.empty() || std::any_of(others.begin(), others.end(), [](const NameBearer& other) {
    return other.openError == win32::kErrorAccessDenied;
  });
}

NameBearers FindNameBearers(AgentPlatform& os) {
  const NamedWindows named = FindAgentWindows(os);
  NameBearers bearers;
  for (const WindowHandle window : named.agents) {
    bearers.agents.push_back(Bearer(os, window));
  }
  for (const WindowHandle window : named.others) {
    bearers.others.push_back(Bearer(os, window));
  }
  return bearers;
}

std::wstring Describe(const NameBearer& bearer) {
  std::wstring text = L"process " + Decimal(bearer.processId) + L", ";
  if (!bearer.image.empty()) {
    return text + bearer.image;
  }
  return text + L"whose image cannot be read" +
         (bearer.openError != 0 ? L" (error " + Decimal(bearer.openError) + L")" : std::wstring());
}

}  // namespace velmor::ctl
