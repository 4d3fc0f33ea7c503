// ReadAutostartValueBefore: the autostart value as it is before this run, read first of all into the
// private property AutostartBefore, so that the package writes back what was there (velmor.wxs): an
// upgrade's removal of the old version takes the value with it, and a user's switch-off (" 0") would
// otherwise be lost. Read with the agent's own function, as the agent's install-time start reads it
// (UTF-16, the 32-bit view, a string type only). (A RegistrySearch would serve on Windows; Wine's cuts
// a quoted value short after its closing quote, so the tail would be lost there.)
//
// Immediate, impersonated, before anything is written. The outcome is one line in the installer's log.
#include <windows.h>
// These need <windows.h> first.
#include <msi.h>
#include <msiquery.h>

#include <string>

#include "installer/actions/ActionSession.h"
#include "installer/actions/InstallerPlatform.h"
#include "integration/Autostart.h"

extern "C" __declspec(dllexport) UINT __stdcall ReadAutostartValueBefore(MSIHANDLE install) {
  const velmor::installer::ActionSession session(install);
  velmor::installer::InstallerPlatform os;
  std::wstring text;
  const velmor::Win32Status status = velmor::ReadAutostartValue(os, text);
  // The Registry table reads a value that begins with "#" as a number or binary data; "##" is the
  // text that begins with one "#".
  if (status == ERROR_SUCCESS && !text.empty() && text.front() == L'#') {
    text.insert(0, 1, L'#');
  }
  const bool kept = status == ERROR_SUCCESS && !text.empty() &&
                    ::MsiSetPropertyW(install, L"AutostartBefore", text.c_str()) == ERROR_SUCCESS;
  session.Log(L"velmor autostart-before: value-read=" + std::to_wstring(status) + L" kept=" + (kept ? L"yes" : L"no"));
  return ERROR_SUCCESS;  // no value kept: the package writes a new one
}
