// The agent window on the Windows side: its class and procedure, the guards against the messages
// other programs forge to it, the schedule of its timers, the message loop and the modal loops' filter.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/AgentPlatform.h"
#include "platform/win32/Win32Handles.h"

namespace velmor::win32impl {

// One per process (the agent has one window), made with the platform: the window procedure and the
// thread's message filter reach it through the one pointer to it.
class AgentWindowHost {
 public:
  AgentWindowHost();
  AgentWindowHost(const AgentWindowHost&) = delete;
  AgentWindowHost& operator=(const AgentWindowHost&) = delete;
  ~AgentWindowHost();

  // The hidden window of class `className`, whose events go to `events`; null when it could not be made.
  HWND Create(const char* className, const char* caption, AgentWindowEvents& events);
  void Destroy(HWND window);
  bool Rename(HWND window, const char* caption);
  bool SetTimer(HWND window, TimerId timer, UINT intervalMs);
  bool KillTimer(HWND window, TimerId timer);
  int RunMessageLoop();
  // The agent's own end: the loop ends once it has handled what was posted before.
  void RequestTerminate();
  // After a modal dialog: a WM_QUIT that ended its loop, and that the agent did not ask for, is heard
  // now, before the handler that showed the dialog runs on.
  void HearUnaskedQuitAfterModalLoop();
  // The agent window while it exists, else null: the dialogs' owner, so that destroying the window
  // closes them.
  [[nodiscard]] HWND DialogOwner() const;

 private:
  // When a running timer falls due next (GetTickCount64 milliseconds).
  struct Schedule {
    TimerId id = 0;
    ULONGLONG intervalMs = 0;
    ULONGLONG nextDue = 0;
  };

  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  static LRESULT CALLBACK FilterModalLoopMessage(int code, WPARAM wParam, LPARAM lParam) noexcept;

  LRESULT Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  [[nodiscard]] bool IsForgedTimerCallback(const MSG& message) const;
  Schedule* FindTimer(TimerId id);
  bool TakeTick(WPARAM id);
  void EndIfWindowGone();
  // Hands a WM_QUIT that the agent did not ask for to its events; true when the agent asked for its
  // end meanwhile, as it does.
  bool HearUnaskedQuit();

  AgentWindowEvents* events_ = nullptr;
  std::vector<Schedule> timers_;  // the running ones: a handful, looked up in order
  bool classRegistered_ = false;
  HWND agentWindow_ = nullptr;  // from the agent's creation of the window until it destroys it or sees it gone

  // Set only while the agent's own CreateWindowExA, DestroyWindow and SetWindowTextA run on this
  // thread: WM_NCCREATE attaches the window, WM_NCDESTROY detaches it and WM_SETTEXT renames it only
  // then. Any process can send the window these messages; from elsewhere they change nothing.
  bool creatingWindow_ = false;
  HWND windowBeingDestroyed_ = nullptr;
  // The message loop is over: the process ends next.
  bool loopEnded_ = false;
  // The agent asked for its end (its own WM_QUIT is on the way).
  bool terminateRequested_ = false;
  bool renamingWindow_ = false;
  // The window whose messages become events, kept in this process's own memory: a window's user data
  // can be written by any program of the desktop.
  HWND attachedWindow_ = nullptr;
  // Set when the window received WM_NCDESTROY without the agent destroying it: forged, or the window
  // really going (another program made it a child of its own window and destroyed that). The message
  // loop then looks whether the window is still there.
  bool foreignDestructionSeen_ = false;

  UniqueWin32Hook modalLoopFilter_;  // the thread's message filter, for as long as the host lives
};

}  // namespace velmor::win32impl
