// Installing, starting, stopping and removing the product service stand-in "tsysrv".
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace velmor::e2e {

// Installs tsysrv.exe (beside this executable) as the own-process, demand-start service "tsysrv",
// with `options` on its command line. Returns the Win32 error, 0 on success.
DWORD InstallServiceStandin(const std::string& options);
// Starts the service and waits until it reports running. Returns the Win32 error, 0 on success.
DWORD StartServiceStandin();
// Stops (when it runs) and deletes the stand-in, and waits until its name is free again. Does nothing
// when no service of that name is installed, or when the one installed is not this build's stand-in.
void RemoveServiceStandin();
// True when a service of the product's name is installed that is not this build's stand-in: the
// product's own service, on a machine where the product is installed.
bool ProductServiceInstalled();
// Whether this build's stand-in is installed under the product's service name.
bool ServiceStandinInstalled();
// The command line of the installed service of the product's name: nothing when no service of that
// name is installed, empty when one is but its configuration cannot be read.
std::optional<std::string> InstalledServiceCommand();

}  // namespace velmor::e2e
