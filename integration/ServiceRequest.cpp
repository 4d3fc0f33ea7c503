#include "integration/ServiceRequest.h"

#include <array>
#include <charconv>
#include <string>

#include "peers/ProductPeers.h"
#include "platform/ScopedHandles.h"

namespace velmor {
namespace {

void ShowError(AgentPlatform& os, std::wstring_view text) {
  os.ShowMessageDialog(DialogKind::Error, text, false);
}

// The code in decimal after the text. std::to_chars rather than std::to_wstring, which would link
// the printf family into the agent for this one number.
std::wstring WithCode(std::wstring_view text, Win32Status code) {
  std::array<char, 10> digits{};  // 4294967295 at most
  char* const first = digits.data();
  char* const last = std::to_chars(first, first + digits.size(), code).ptr;
  std::wstring result(text);
  result.append(first, last);  // ASCII digits widen one to one
  return result;
}

bool IsNotReadyYet(Win32Status status) {
  return status == win32::kErrorServiceNotActive || status == win32::kErrorServiceCannotAcceptCtrl;
}

}  // namespace

Win32Status SendServiceControl(AgentPlatform& os, ServiceHandle service) {
  if (os.ControlService(service, peers::AGENT_SERVICE_CONTROL)) {
    return win32::kErrorSuccess;
  }
  return os.GetLastError();
}

bool KickService(AgentPlatform& os) {
  const UniqueServiceHandle manager(os, os.OpenSCManagerA(win32::kScManagerConnect));
  if (!manager) {
    ShowError(os, WithCode(kOpenScmFailedText, os.GetLastError()));
    return false;
  }

  const UniqueServiceHandle service(
      os, os.OpenServiceA(manager.get(), peers::kProductServiceName, win32::kServiceUserDefinedControl));
  if (!service) {
    const Win32Status status = os.GetLastError();
    ShowError(os, status == win32::kErrorServiceDoesNotExist ? std::wstring(kServiceNotInstalledText)
                                                             : WithCode(kOpenScmFailedText, status));
    return false;
  }

  Win32Status result = SendServiceControl(os, service.get());
  for (int attempt = 0; IsNotReadyYet(result) && attempt < kServiceControlRetries; ++attempt) {
    os.Sleep(kServiceControlRetryPauseMs);
    result = SendServiceControl(os, service.get());
  }

  if (result != win32::kErrorSuccess) {
    ShowError(os, result == win32::kErrorServiceNotActive ? std::wstring(kServiceNotStartedText)
                                                          : WithCode(kControlServiceFailedText, result));
  }
  return result == win32::kErrorSuccess;  // the service handle closes first, then the manager's
}

}  // namespace velmor
