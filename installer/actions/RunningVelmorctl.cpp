// EndRunningVelmorctl: a velmorctl.exe that runs from the install folder (a support person's
// "velmorctl trace", left running) holds its file, and Windows Installer could then replace or remove
// it only at the next restart (3010). Before an upgrade, a repair or an uninstall touches the files,
// each process whose image is that very file is ended, as an interrupted console program
// (0xC000013A); nothing else is touched, whatever its name.
//
// Immediate and impersonated, before InstallInitialize: it runs with the rights and in the session of
// whoever runs the package, as the velmorctl it ends was started there; an installation that then
// fails has lost nothing but that listener. Its input (the property of its own name) is the full path
// of the installed velmorctl.exe. The outcome is one line in the installer's log.
#include <windows.h>
// These need <windows.h> first.
#include <msi.h>
#include <tlhelp32.h>

#include <string>
#include <string_view>

#include "installer/actions/ActionSession.h"
#include "platform/AgentPlatform.h"
#include "platform/win32/Win32Handles.h"

namespace {

using velmor::UniqueWin32Handle;

constexpr DWORD kInterruptedExitCode = 0xC000013A;  // STATUS_CONTROL_C_EXIT
constexpr DWORD kEndTimeoutMs = 5000;

bool SamePath(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::wstring ImagePath(HANDLE process) {
  std::wstring path(velmor::win32::kLongestPathUnits, L'\0');
  auto size = static_cast<DWORD>(path.size());
  if (::QueryFullProcessImageNameW(process, 0, path.data(), &size) == FALSE) {
    size = 0;
  }
  path.resize(size);
  return path;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall EndRunningVelmorctl(MSIHANDLE install) {
  const velmor::installer::ActionSession session(install);
  const std::wstring installed = session.Property(L"EndRunningVelmorctl");
  const std::wstring_view fileName = std::wstring_view(installed).substr(installed.find_last_of(L'\\') + 1);
  unsigned ended = 0;
  unsigned stillRunning = 0;
  unsigned notOpened = 0;  // of that name, but closed to these rights: whether it runs that file is unknown
  const UniqueWin32Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  const bool listed = snapshot.get() != INVALID_HANDLE_VALUE && !installed.empty();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = listed ? ::Process32FirstW(snapshot.get(), &entry) : FALSE; more != FALSE;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (!SamePath(std::wstring_view(&entry.szExeFile[0]), fileName)) {
      continue;  // only a process of that file name can run that file
    }
    const UniqueWin32Handle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process) {
      ++notOpened;
      continue;
    }
    if (!SamePath(ImagePath(process.get()), installed)) {
      continue;  // another copy, elsewhere: it holds no file of this package
    }
    if (::TerminateProcess(process.get(), kInterruptedExitCode) != FALSE &&
        ::WaitForSingleObject(process.get(), kEndTimeoutMs) == WAIT_OBJECT_0) {
      ++ended;
    } else {
      ++stillRunning;
    }
  }
  std::wstring line = L"velmor running-velmorctl: ended=" + std::to_wstring(ended) + L" still-running=" +
                      std::to_wstring(stillRunning) + L" not-opened=" + std::to_wstring(notOpened);
  if (!listed) {
    line += L" listed=no";
  }
  session.Log(line);
  return ERROR_SUCCESS;  // at worst, a file in use is replaced at the next restart
}
