// What the package's custom actions ask of the installation that runs them: their input, a line in
// the installer's log, and a restart at the end.
#pragma once

#include <windows.h>
// These need <windows.h> first.
#include <msi.h>

#include <string>
#include <string_view>

namespace velmor::installer {

class ActionSession {
 public:
  explicit ActionSession(MSIHANDLE install) : install_(install) {}

  // A property of the installation; empty when it is not set. A deferred action reads only
  // "CustomActionData", which the package sets to the action's input.
  [[nodiscard]] std::wstring Property(std::wstring_view name) const;

  // One line in the installer's log (the verbose log, /l*v), as it stands: brackets in it are not
  // read as property references.
  void Log(std::wstring_view line) const;

  // Asks Windows Installer for a restart once the installation has ended: it then prompts where the
  // installation has a user interface, restarts on its own in a silent one, and ends with 3010
  // instead where REBOOT=ReallySuppress (or msiexec's /norestart) says so. For immediate actions:
  // deferred ones may not set the installation's run modes. False when it was refused.
  [[nodiscard]] bool RequestRestartAtEnd() const;

 private:
  MSIHANDLE install_;
};

}  // namespace velmor::installer
