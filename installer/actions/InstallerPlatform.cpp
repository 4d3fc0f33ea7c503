#include "installer/actions/InstallerPlatform.h"

namespace velmor::installer {

WindowHandle InstallerPlatform::CreateAgentWindow(std::string_view /*className*/, std::string_view /*caption*/,
                                                  AgentWindowEvents& /*events*/) {
  return kNoWindow;
}

void InstallerPlatform::DestroyAgentWindow(WindowHandle /*window*/) {}

bool InstallerPlatform::SetWindowTextA(WindowHandle /*window*/, std::string_view /*caption*/) {
  return false;
}

bool InstallerPlatform::SetTimer(WindowHandle /*window*/, TimerId /*timer*/, std::uint32_t /*intervalMs*/) {
  return false;
}

bool InstallerPlatform::KillTimer(WindowHandle /*window*/, TimerId /*timer*/) {
  return false;
}

int InstallerPlatform::RunMessageLoop() {
  return 0;
}

void InstallerPlatform::TerminateApplication() {}

DialogResult InstallerPlatform::ShowMessageDialog(DialogKind /*kind*/, std::wstring_view /*text*/, bool /*topmost*/) {
  return DialogResult::NotShown;
}

void InstallerPlatform::OutputDebugStringA(std::string_view /*text*/) {}

std::intptr_t InstallerPlatform::ShellExecuteW(std::wstring_view /*operation*/, std::wstring_view /*file*/,
                                               int /*showCommand*/) {
  return 0;
}

}  // namespace velmor::installer
