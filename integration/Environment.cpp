#include "integration/Environment.h"

#include <optional>
#include <string>

#include "integration/Dialog.h"
#include "integration/ErrorText.h"
#include "peers/AgentTexts.h"
#include "peers/ProductPeers.h"
#include "platform/ScopedHandles.h"
#include "platform/Trace.h"

namespace velmor {

bool IsVersionAtLeast(AgentPlatform& os, std::uint32_t major, std::uint32_t minor, std::uint16_t servicePackMajor) {
  OsVersionInfoEx info{};
  info.dwOSVersionInfoSize = sizeof(info);
  info.dwMajorVersion = major;
  info.dwMinorVersion = minor;
  info.wServicePackMajor = servicePackMajor;

  std::uint64_t conditionMask = os.VerSetConditionMask(0, win32::kVerMajorVersion, win32::kVerGreaterEqual);
  conditionMask = os.VerSetConditionMask(conditionMask, win32::kVerMinorVersion, win32::kVerGreaterEqual);
  conditionMask = os.VerSetConditionMask(conditionMask, win32::kVerServicePackMajor, win32::kVerGreaterEqual);

  constexpr std::uint32_t kTypeMask = win32::kVerMajorVersion | win32::kVerMinorVersion | win32::kVerServicePackMajor;
  return os.VerifyVersionInfoW(info, kTypeMask, conditionMask);
}

bool IsOsSupported(AgentPlatform& os) {
  return IsVersionAtLeast(os, kOldestSupportedMajor, kOldestSupportedMinor, 0);
}

bool IsOtherVersionRunning(AgentPlatform& os) {
  for (const std::string_view name : peers::kOtherVersionMarkers) {
    const UniqueKernelHandle marker(os, os.OpenFileMappingA(win32::kFileMapAllAccess, true, name));
    // A marker that exists but may not be opened with this access (one made with other rights)
    // counts as well.
    if (marker || os.GetLastError() == win32::kErrorAccessDenied) {
      return true;
    }
  }
  return false;
}

bool ShowRestartPrompt(AgentPlatform& os) {
  std::wstring text(texts::kOtherVersionRunning);
  text += texts::kRestartQuestion;
  // Esc, the dialog closed with the agent window, or no dialog where nobody can answer, counts as No.
  const bool rebootRequested = ShowAgentDialog(os, DialogKind::Confirmation, text, true) == DialogResult::Yes;
  TraceLine(os, "restart-prompt").Add("reboot-asked", rebootRequested);
  // The user asked for the reboot: one that fails is reported, and the agent ends all the same.
  if (rebootRequested && !RebootComputer(os)) {
    const Win32Status error = os.GetLastError();
    TraceLine(os, "reboot").Add("error", error);
    ShowAgentDialog(os, DialogKind::Error, WithCode(texts::kRebootFailed, error) + L".");
  }
  return rebootRequested;
}

bool RebootComputer(AgentPlatform& os) {
  KernelHandleOpenUntilExit token;
  if (!os.OpenProcessToken(os.GetCurrentProcess(), win32::kTokenAdjustPrivileges | win32::kTokenQuery, token.put())) {
    return false;
  }
  TokenPrivilege privilege{};
  privilege.PrivilegeCount = 1;
  privilege.Attributes = win32::kSePrivilegeEnabled;
  os.LookupPrivilegeValueA("SeShutdownPrivilege", privilege.PrivilegeLuid);
  os.AdjustTokenPrivileges(token.get(), false, privilege);
  // AdjustTokenPrivileges succeeds even when it could not assign the privilege; only the last
  // error tells (ERROR_NOT_ALL_ASSIGNED).
  if (os.GetLastError() != win32::kErrorSuccess) {
    return false;
  }
  return os.ExitWindowsEx(win32::kEwxReboot, 0);
}

// Whether the user's desktop could reach an agent. The product runs with the user's rights, and
// Windows keeps its messages from a process of higher integrity: the elevated half of a split token,
// and LocalSystem (elevated without a split). The built-in Administrator with UAC off is elevated
// without a split too, but there every program of the desktop runs with the same rights, the product
// included, and the agent is reached as any. An agent in a window station that nobody sees (session 0,
// where an installer's deferred actions and deployment tools run) could neither find the product's
// window nor be found by the user's programs.
Reach ReachOf(AgentPlatform& os) {
  if (!os.IsWindowStationInteractive()) {
    return Reach::NonInteractive;
  }
  if (os.IsCurrentProcessElevated()) {
    return Reach::Elevated;
  }
  const std::optional<std::uint32_t> level = os.GetProcessIntegrityLevel(os.GetCurrentProcess());
  return level && *level >= win32::kSystemIntegrityLevel ? Reach::Elevated : Reach::Reachable;
}

}  // namespace velmor
