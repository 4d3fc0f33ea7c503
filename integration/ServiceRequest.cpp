#include "integration/ServiceRequest.h"

#include <string>

#include "integration/ErrorText.h"
#include "peers/ProductPeers.h"
#include "platform/ScopedHandles.h"

namespace velmor {
namespace {

void ShowError(AgentPlatform& os, std::wstring_view text) {
  os.ShowMessageDialog(DialogKind::Error, text, false);
}

bool IsNotReadyYet(Win32Status status) {
  return status == win32::kErrorServiceNotActive || status == win32::kErrorServiceCannotAcceptCtrl;
}

}  // namespace

Win32Status SendServiceControl(AgentPlatform& os, ServiceHandle service) {
  if (os.ControlService(service, peers::kServiceControlCode)) {
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
