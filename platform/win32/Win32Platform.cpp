// The Windows implementation of AgentPlatform: the pass-throughs (Win32PassThroughs.cpp), and the
// parts that keep state for the process's life: the agent window's host (AgentWindowHost.cpp), the
// message dialogs, the trace's channel and the shell, loaded when the first page is opened.
//
// As in the pass-throughs, strings are copied before the real call, so that nothing between that call
// and the method's return changes the thread's last error.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/win32/AgentWindowHost.h"
#include "platform/win32/HandleConversions.h"
#include "platform/win32/MessageDialog.h"
#include "platform/win32/ShellLoader.h"
#include "platform/win32/TraceChannel.h"
#include "platform/win32/Win32PassThroughs.h"

namespace velmor {
namespace {

using namespace win32impl;

class Win32Platform final : public Win32PassThroughs {
 public:
  // --- The agent window, its timers and the message loop ---------------------------------------

  WindowHandle CreateAgentWindow(std::string_view className, std::string_view caption,
                                 AgentWindowEvents& events) override {
    const std::string classCopy(className);
    const std::string captionCopy(caption);
    return FromHwnd(windowHost_.Create(classCopy.c_str(), captionCopy.c_str(), events));
  }

  void DestroyAgentWindow(WindowHandle window) override { windowHost_.Destroy(ToHwnd(window)); }

  bool SetWindowTextA(WindowHandle window, std::string_view caption) override {
    const std::string copy(caption);
    return windowHost_.Rename(ToHwnd(window), copy.c_str());
  }

  bool SetTimer(WindowHandle window, TimerId timer, std::uint32_t intervalMs) override {
    return windowHost_.SetTimer(ToHwnd(window), timer, intervalMs);
  }

  bool KillTimer(WindowHandle window, TimerId timer) override { return windowHost_.KillTimer(ToHwnd(window), timer); }

  int RunMessageLoop() override { return windowHost_.RunMessageLoop(); }

  void TerminateApplication() override { windowHost_.RequestTerminate(); }

  // --- Dialogs ---------------------------------------------------------------------------------

  DialogResult ShowMessageDialog(DialogKind kind, std::wstring_view text, bool topmost) override {
    const DialogResult result = win32impl::ShowMessageDialog(windowHost_.DialogOwner(), kind, text, topmost);
    windowHost_.HearUnaskedQuitAfterModalLoop();
    return result;
  }

  // --- The trace -------------------------------------------------------------------------------

  void OutputDebugStringA(std::string_view text) override {
    // A line may be written between a call and the caller's look at its error: keep that error.
    const DWORD error = ::GetLastError();
    traceChannel_.Write(text);
    ::SetLastError(error);
  }

  // --- Shell -----------------------------------------------------------------------------------

  std::intptr_t ShellExecuteW(std::wstring_view operation, std::wstring_view file, int showCommand) override {
    const std::wstring operationCopy(operation);
    const std::wstring fileCopy(file);
    return shell_.Execute(operationCopy.c_str(), fileCopy.c_str(), showCommand);
  }

 private:
  ShellLoader shell_;
  AgentWindowHost windowHost_;
  TraceChannel traceChannel_;
};

}  // namespace

std::unique_ptr<AgentPlatform> CreateWin32Platform() {
  RestrictDllSearchToSystemFolder();
  return std::make_unique<Win32Platform>();
}

}  // namespace velmor
