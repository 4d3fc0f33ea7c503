#include "integration/ServiceRequest.h"

#include <string>

#include "integration/Dialog.h"
#include "integration/ErrorText.h"
#include "peers/AgentTexts.h"
#include "peers/AgentTimes.h"
#include "peers/ProductPeers.h"
#include "platform/ScopedHandles.h"
#include "platform/Trace.h"

namespace velmor {
namespace {

void ShowError(AgentPlatform& os, std::wstring_view text) {
  ShowAgentDialog(os, DialogKind::Error, text);
}

bool IsNotReadyYet(Win32Status status) {
  return status == win32::kErrorServiceNotActive || status == win32::kErrorServiceCannotAcceptCtrl;
}

// Sends the product's control code; 0 when the service took it, otherwise GetLastError().
Win32Status SendServiceControl(AgentPlatform& os, ServiceHandle service) {
  if (os.ControlService(service, peers::kServiceControlCode)) {
    return win32::kErrorSuccess;
  }
  return os.GetLastError();
}

}  // namespace

bool KickService(AgentPlatform& os) {
  const UniqueServiceHandle manager(os, os.OpenSCManagerA(win32::kScManagerConnect));
  if (!manager) {
    const Win32Status status = os.GetLastError();
    TraceLine(os, "service").Add("open-manager-error", status);
    ShowError(os, WithCode(texts::kOpenScmFailed, status));
    return false;
  }

  const UniqueServiceHandle service(
      os, os.OpenServiceA(manager.get(), peers::kProductServiceName, win32::kServiceUserDefinedControl));
  if (!service) {
    const Win32Status status = os.GetLastError();
    TraceLine(os, "service").Add("open-service-error", status);
    ShowError(os, status == win32::kErrorServiceDoesNotExist ? std::wstring(texts::kServiceNotInstalled)
                                                             : WithCode(texts::kOpenScmFailed, status));
    return false;
  }

  Win32Status result = SendServiceControl(os, service.get());
  std::uint32_t attempts = 1;
  for (; IsNotReadyYet(result) && attempts <= static_cast<std::uint32_t>(times::kServiceControlRetries); ++attempts) {
    os.Sleep(times::kServiceControlRetryPauseMs);
    result = SendServiceControl(os, service.get());
  }
  TraceLine(os, "service").Add("attempts", attempts).Add("result", result);

  if (result != win32::kErrorSuccess) {
    ShowError(os, result == win32::kErrorServiceNotActive ? std::wstring(texts::kServiceNotStarted)
                                                          : WithCode(texts::kControlServiceFailed, result));
  }
  return result == win32::kErrorSuccess;  // the service handle closes first, then the manager's
}

}  // namespace velmor
