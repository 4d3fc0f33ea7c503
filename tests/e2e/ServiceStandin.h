// Installing, starting, stopping and removing the product service stand-in "tsysrv".
#pragma once

#include <windows.h>

#include <string>

namespace velmor::e2e {

// Installs tsysrv.exe (beside this executable) as the own-process, demand-start service "tsysrv",
// with `options` on its command line. Returns the Win32 error, 0 on success.
DWORD InstallServiceStandin(const std::string& options);
// Starts the service and waits until it reports running. Returns the Win32 error, 0 on success.
DWORD StartServiceStandin();
// Stops the service and waits until it reports stopped.
DWORD StopServiceStandin();
// Stops (when it runs) and deletes the service, and waits until its name is free again.
// Does nothing when it is not installed.
void RemoveServiceStandin();
bool ServiceStandinInstalled();

}  // namespace velmor::e2e
