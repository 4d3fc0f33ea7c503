// RunInstallTimeStart: the agent's install-time start, "velmor.exe firstnotstartbutrestart", which
// points the autostart value at the agent just installed, keeping the value's argument tail.
//
// Deferred and not impersonated (the value lives under HKLM), its input (CustomActionData) the full
// path of the installed velmor.exe. The agent runs on a window station of its own that nobody sees, as
// an elevated action runs in session 0 on Windows, whoever runs the package and wherever: an agent
// there shows no dialog, so the installation never waits on one (the restart it would offer is asked
// of Windows Installer by RequestRestartIfProductRuns). The agent normally ends within a second; it is
// given two minutes, then ended.
//
// A velmor.exe that cannot be started (blocked by AppLocker, WDAC or an antivirus), does not end in
// time or ends with another exit code than 0 fails the installation: Windows Installer rolls it back,
// the old version's removal in an upgrade included, rather than leave a machine with an agent that
// cannot run. The outcome is one line in the installer's log.
#include <windows.h>
// These need <windows.h> first.
#include <msi.h>

#include <array>
#include <string>
#include <string_view>

#include "installer/actions/ActionSession.h"
#include "peers/AgentContract.h"
#include "platform/ScopedHandles.h"
#include "platform/win32/Win32Handles.h"

namespace {

using velmor::UniqueHandle;
using velmor::UniqueWin32Handle;
using velmor::installer::ActionSession;

constexpr DWORD kAgentTimeoutMs = 120 * 1000;
constexpr std::wstring_view kLinePrefix = L"velmor install-time-start: ";

struct WindowStationTraits : velmor::Win32LastErrorTraits {
  using Type = HWINSTA;
  static void Close(HWINSTA station) { ::CloseWindowStation(station); }
};
struct DesktopTraits : velmor::Win32LastErrorTraits {
  using Type = HDESK;
  static void Close(HDESK desktop) { ::CloseDesktop(desktop); }
};

std::wstring Decimal(unsigned long long value) {
  return std::to_wstring(value);
}

// A window station that is not the interactive one, with a desktop: where the agent runs.
class HiddenDesktop {
 public:
  HiddenDesktop() : station_(::CreateWindowStationW(nullptr, 0, GENERIC_ALL, nullptr)) {
    if (!station_) {
      return;
    }
    // A desktop is made on the calling process's window station: this one's, for the moment.
    const HWINSTA own = ::GetProcessWindowStation();
    if (own == nullptr || ::SetProcessWindowStation(station_.get()) == FALSE) {
      return;
    }
    desktop_.reset(::CreateDesktopW(kDesktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr));
    ::SetProcessWindowStation(own);
    std::array<wchar_t, 256> name{};
    constexpr DWORD bytes = (name.size() - 1) * sizeof(wchar_t);  // the last stays NUL
    if (::GetUserObjectInformationW(station_.get(), UOI_NAME, name.data(), bytes, nullptr) != FALSE) {
      path_ = std::wstring(name.data()) + L"\\" + kDesktopName;
    }
  }
  // "station\desktop", for STARTUPINFO.lpDesktop; empty when either could not be made.
  [[nodiscard]] std::wstring Path() const { return desktop_ ? path_ : std::wstring(); }

 private:
  static constexpr const wchar_t* kDesktopName = L"velmor-install-time";
  UniqueHandle<WindowStationTraits> station_;
  UniqueHandle<DesktopTraits> desktop_;
  std::wstring path_;
};

UINT Fail(const ActionSession& session, const std::wstring& what) {
  session.Log(std::wstring(kLinePrefix) + what + L" result=failed");
  return ERROR_INSTALL_FAILURE;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall RunInstallTimeStart(MSIHANDLE install) {
  const ActionSession session(install);
  const std::wstring agent = session.Property(L"CustomActionData");
  if (agent.empty()) {
    return Fail(session, L"no-agent-path");
  }
  const HiddenDesktop desktop;
  std::wstring desktopPath = desktop.Path();
  if (desktopPath.empty()) {
    return Fail(session, L"hidden-desktop-error=" + Decimal(::GetLastError()));
  }

  const std::string_view keyword = velmor::peers::kRestartOnlyKeyword;
  std::wstring commandLine = L"\"" + agent + L"\" " + std::wstring(keyword.begin(), keyword.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktopPath.data();
  PROCESS_INFORMATION started{};
  const ULONGLONG began = ::GetTickCount64();
  if (::CreateProcessW(agent.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &started) == FALSE) {
    return Fail(session, L"start-error=" + Decimal(::GetLastError()));
  }
  const UniqueWin32Handle process(started.hProcess);
  const UniqueWin32Handle thread(started.hThread);
  const DWORD waited = ::WaitForSingleObject(process.get(), kAgentTimeoutMs);
  const std::wstring took = L" milliseconds=" + Decimal(::GetTickCount64() - began);
  if (waited != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), ERROR_TIMEOUT);
    return Fail(session, L"timed-out=yes" + took);
  }
  DWORD exitCode = 0;
  if (::GetExitCodeProcess(process.get(), &exitCode) == FALSE || exitCode != 0) {
    return Fail(session, L"exit-code=" + Decimal(exitCode) + took);
  }
  session.Log(std::wstring(kLinePrefix) + L"exit-code=0" + took + L" result=done");
  return ERROR_SUCCESS;
}
