// The agent's own view of the system, for the package's custom actions: the Windows calls of the
// agent's seam, so that an action asks "does the product run?" with the very functions the agent's
// start sequence uses. An action has no agent window, shows no dialog (nobody may be there to answer
// it), writes no trace and opens no page: those parts of the seam do nothing here.
#pragma once

#include "platform/win32/Win32PassThroughs.h"

namespace velmor::installer {

class InstallerPlatform final : public win32impl::Win32PassThroughs {
 public:
  WindowHandle CreateAgentWindow(std::string_view className, std::string_view caption,
                                 AgentWindowEvents& events) override;
  void DestroyAgentWindow(WindowHandle window) override;
  bool SetWindowTextA(WindowHandle window, std::string_view caption) override;
  bool SetTimer(WindowHandle window, TimerId timer, std::uint32_t intervalMs) override;
  bool KillTimer(WindowHandle window, TimerId timer) override;
  int RunMessageLoop() override;
  void TerminateApplication() override;
  DialogResult ShowMessageDialog(DialogKind kind, std::wstring_view text, bool topmost) override;
  void OutputDebugStringA(std::string_view text) override;
  std::intptr_t ShellExecuteW(std::wstring_view operation, std::wstring_view file, int showCommand) override;
};

}  // namespace velmor::installer
