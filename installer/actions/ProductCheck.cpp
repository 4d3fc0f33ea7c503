// RequestRestartIfProductRuns: once the agent is installed, upgraded or repaired, the restart that the
// agent would offer when the product, or another version of it, runs. The agent's install-time start
// runs where nobody could answer its dialog; this action asks Windows Installer instead, which
// honours the way the package was run (a prompt with a user interface, 3010 with
// REBOOT=ReallySuppress, its own restart otherwise).
//
// Immediate, after InstallFinalize, impersonated: it runs in the session and with the rights of
// whoever runs the package, where the product's window and the markers of other versions are. When a
// management tool runs the package as LocalSystem in session 0 it sees neither, as the agent would not.
#include <windows.h>
// These need <windows.h> first.
#include <msi.h>

#include <string>

#include "app/ProductWindow.h"
#include "installer/actions/ActionSession.h"
#include "installer/actions/InstallerPlatform.h"
#include "integration/Environment.h"

namespace {

const wchar_t* YesNo(bool value) {
  return value ? L"yes" : L"no";
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall RequestRestartIfProductRuns(MSIHANDLE install) {
  const velmor::installer::ActionSession session(install);
  velmor::installer::InstallerPlatform os;
  // As the agent's install-time start decides whether to offer the restart.
  const bool productWindow = velmor::FindProductWindow(os) != velmor::kNoWindow;
  const bool otherVersion = velmor::IsOtherVersionRunning(os);
  std::wstring line = std::wstring(L"velmor product-check: product-window=") + YesNo(productWindow) +
                      L" other-version=" + YesNo(otherVersion) + L" restart=";
  if (!productWindow && !otherVersion) {
    line += L"not-needed";
  } else if (session.RequestRestartAtEnd()) {
    line += L"requested";
  } else {
    line += L"refused";
  }
  session.Log(line);
  return ERROR_SUCCESS;  // nothing here may fail an installation that has already been carried out
}
