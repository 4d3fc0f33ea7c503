#include "platform/win32/AgentWindowHost.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/AgentMessages.h"
#include "platform/win32/MessageDialog.h"

namespace velmor::win32impl {
namespace {

constexpr int kAgentClientSize = 150;

// A tick may be seen a little before its due time by the clock read here.
constexpr ULONGLONG kTickToleranceMs = 50;

// The system's own timer message, dispatched the way WM_TIMER is.
constexpr UINT kWmSysTimer = 0x0118;

// The host of this process, for the window procedure and the message filter: a thread's message filter
// is called with no context of its own.
AgentWindowHost* host = nullptr;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

void HideIfShown(HWND window) {
  if ((::GetWindowLongPtrA(window, GWL_STYLE) & WS_VISIBLE) != 0) {
    ::ShowWindow(window, SW_HIDE);
  }
}

}  // namespace

AgentWindowHost::AgentWindowHost()
    : modalLoopFilter_(::SetWindowsHookExW(WH_MSGFILTER, FilterModalLoopMessage, nullptr, ::GetCurrentThreadId())) {
  host = this;
}

AgentWindowHost::~AgentWindowHost() {
  host = nullptr;
}

HWND AgentWindowHost::Create(const char* className, const char* caption, AgentWindowEvents& events) {
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  if (!classRegistered_) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));  // a stock object: never deleted
    windowClass.lpszClassName = className;
    if (::RegisterClassExA(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      return nullptr;
    }
    classRegistered_ = true;
  }

  // No border: the window rectangle is the 150 x 150 client area, centred on the screen.
  constexpr DWORD kStyle = WS_POPUP;  // never WS_VISIBLE: the window is never shown
  RECT frame{0, 0, kAgentClientSize, kAgentClientSize};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  events_ = &events;
  timers_.clear();
  creatingWindow_ = true;
  const HWND window =
      ::CreateWindowExA(0, className, caption, kStyle, left, top, width, height, nullptr, nullptr, instance, nullptr);
  creatingWindow_ = false;
  if (window != nullptr) {
    agentWindow_ = window;
  }
  return window;
}

void AgentWindowHost::Destroy(HWND window) {
  if (window == agentWindow_) {
    agentWindow_ = nullptr;
  }
  if (loopEnded_) {
    // The process ends next, and the system takes the window with its thread at no cost.
    // DestroyWindow would first walk the thread's windows (the input method's own among them) and
    // send each its messages: under Wine, most of what the quit cost beyond a bare program's exit.
    return;
  }
  if (::IsWindow(window) != FALSE) {  // it may be gone already
    windowBeingDestroyed_ = window;
    ::DestroyWindow(window);
    windowBeingDestroyed_ = nullptr;
  }
}

bool AgentWindowHost::Rename(HWND window, const char* caption) {
  renamingWindow_ = true;
  const BOOL renamed = ::SetWindowTextA(window, caption);
  renamingWindow_ = false;
  return renamed != FALSE;
}

bool AgentWindowHost::SetTimer(HWND window, TimerId timer, UINT intervalMs) {
  if (::SetTimer(window, timer, intervalMs, nullptr) == 0) {
    return false;
  }
  if (window == agentWindow_) {
    const ULONGLONG interval = std::max<ULONGLONG>(intervalMs, USER_TIMER_MINIMUM);  // as Windows raises it
    const Schedule schedule{timer, interval, ::GetTickCount64() + interval};
    if (Schedule* const running = FindTimer(timer)) {
      *running = schedule;
    } else {
      timers_.push_back(schedule);
    }
  }
  return true;
}

bool AgentWindowHost::KillTimer(HWND window, TimerId timer) {
  if (window == agentWindow_) {
    std::erase_if(timers_, [timer](const Schedule& s) { return s.id == timer; });
  }
  return ::KillTimer(window, timer) != FALSE;
}

int AgentWindowHost::RunMessageLoop() {
  MSG message{};
  while (true) {
    const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
    if (got == -1) {
      break;
    }
    if (got == 0) {
      // WM_QUIT: the agent's own end; or one that another program posted, which the agent hears first,
      // so that it ends through its own close (which asks for the quit that ends the loop).
      if (terminateRequested_ || !HearUnaskedQuit()) {
        break;
      }
      continue;
    }
    if (!IsForgedTimerCallback(message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    EndIfWindowGone();
  }
  loopEnded_ = true;
  return 0;
}

void AgentWindowHost::RequestTerminate() {
  terminateRequested_ = true;
  ::PostQuitMessage(0);
}

void AgentWindowHost::HearUnaskedQuitAfterModalLoop() {
  // A modal loop that gets WM_QUIT ends and posts it again for the loop beneath.
  MSG quit{};
  if (!terminateRequested_ && ::PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE) {
    HearUnaskedQuit();
  }
}

bool AgentWindowHost::HearUnaskedQuit() {
  if (agentWindow_ == nullptr || events_ == nullptr) {
    return false;  // no agent to hear it: the loop ends
  }
  DeliverAgentMessage(*events_, WM_QUIT, 0, 0);
  return terminateRequested_;
}

HWND AgentWindowHost::DialogOwner() const {
  return agentWindow_ != nullptr && ::IsWindow(agentWindow_) != FALSE ? agentWindow_ : nullptr;
}

// The agent is built without exceptions, so none can unwind through the system's code that called
// this procedure.
LRESULT CALLBACK AgentWindowHost::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (host == nullptr) {  // no agent to attach a window to or to tell anything
    return message == WM_NCCREATE ? 0 : ::DefWindowProcA(window, message, wParam, lParam);
  }
  return host->Route(window, message, wParam, lParam);
}

// Hands the attached window's messages to HandleMessage; the attaching and detaching messages count
// only when the agent's own creation and destruction of the window send them.
LRESULT AgentWindowHost::Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    if (!std::exchange(creatingWindow_, false) || ::InSendMessage() != FALSE) {
      return 0;  // not the agent's own creation: neither attached nor the default handling
    }
    attachedWindow_ = window;
    return ::DefWindowProcA(window, message, wParam, lParam);
  }
  if (window != attachedWindow_) {
    return ::DefWindowProcA(window, message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    if (window != windowBeingDestroyed_ || ::InSendMessage() != FALSE) {
      // Have the loop look, once this message is over, whether the window is really gone.
      foreignDestructionSeen_ = true;
      ::PostThreadMessageA(::GetCurrentThreadId(), WM_NULL, 0, 0);
      return 0;
    }
    attachedWindow_ = nullptr;
    return ::DefWindowProcA(window, message, wParam, lParam);
  }
  return HandleMessage(window, message, wParam, lParam);
}

// Turns the messages that the agent serves into its events (the command message, a close request, the
// end of the session through the map that the simulated desktop shares; a tick of a running timer
// here); guards the window's name and its invisibility; every other message gets the default handling.
LRESULT AgentWindowHost::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (DeliverAgentMessage(*events_, message, wParam, lParam)) {
    return 0;
  }
  switch (message) {
    case WM_TIMER:
      if (TakeTick(wParam)) {
        events_->OnTimer(wParam);
      }
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0U) == SC_CLOSE) {
        return 0;  // the window's own close box or system menu, were it ever shown: the agent stays
      }
      return ::DefWindowProcA(window, message, wParam, lParam);
    // The window is never shown, whoever asks: a show is refused while it is being made, and a window
    // shown without the agent being asked first (SWP_NOSENDCHANGING) is hidden again at once.
    case WM_WINDOWPOSCHANGING:
      if (lParam != 0) {
        reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
      }
      return ::DefWindowProcA(window, message, wParam, lParam);
    case WM_STYLECHANGING:
      if (wParam == static_cast<WPARAM>(GWL_STYLE) && lParam != 0) {
        reinterpret_cast<STYLESTRUCT*>(lParam)->styleNew &= ~static_cast<DWORD>(WS_VISIBLE);
      }
      return 0;
    // The agent draws nothing, and the default handling of this message sets or clears WS_VISIBLE
    // itself, with neither of the two messages above: it never gets there.
    case WM_SETREDRAW:
      return 0;
    case WM_WINDOWPOSCHANGED: {
      const LRESULT result = ::DefWindowProcA(window, message, wParam, lParam);
      HideIfShown(window);
      return result;
    }
    case WM_SETTEXT:
      if (!renamingWindow_ || ::InSendMessage() != FALSE) {
        return FALSE;  // the agent keeps the caption it set: others find it by it
      }
      return ::DefWindowProcA(window, message, wParam, lParam);
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

// DispatchMessage calls the function whose address a timer message carries in its lParam. Windows
// refuses one that no timer registered; Wine calls any. The agent's own windows (its window and its
// dialogs) have no timer with such a function, so a timer message to one of them that carries one was
// posted by another program: it is never dispatched. Timer messages to the thread, or to windows that
// system code made on it (an input method's, the shell's), may carry a function that code registered:
// they are left to the system.
bool AgentWindowHost::IsForgedTimerCallback(const MSG& message) const {
  return (message.message == WM_TIMER || message.message == kWmSysTimer) && message.lParam != 0 &&
         message.hwnd != nullptr && (message.hwnd == attachedWindow_ || IsOpenMessageDialog(message.hwnd));
}

// The same for the message loops that are not the agent's own (its modal dialogs): they hand each
// message to the thread's message filter before they dispatch it, and skip it when the filter says so.
LRESULT CALLBACK AgentWindowHost::FilterModalLoopMessage(int code, WPARAM wParam, LPARAM lParam) noexcept {
  if (code >= 0 && lParam != 0 && host != nullptr &&
      host->IsForgedTimerCallback(*reinterpret_cast<const MSG*>(lParam))) {
    return TRUE;
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

AgentWindowHost::Schedule* AgentWindowHost::FindTimer(TimerId id) {
  const auto found = std::find_if(timers_.begin(), timers_.end(), [id](const Schedule& s) { return s.id == id; });
  return found == timers_.end() ? nullptr : &*found;
}

// The timer of a tick, when it is one of the agent's, runs and is due; anyone can post WM_TIMER. The
// id is compared whole, as WPARAM: no wider value passes for an agent timer by truncation.
bool AgentWindowHost::TakeTick(WPARAM id) {
  Schedule* const schedule = FindTimer(id);
  if (schedule == nullptr) {
    return false;
  }
  const ULONGLONG now = ::GetTickCount64() + kTickToleranceMs;
  if (now < schedule->nextDue) {
    return false;
  }
  while (schedule->nextDue <= now) {  // ticks do not pile up: the next one is the next due time
    schedule->nextDue += schedule->intervalMs;
  }
  return true;
}

// After a WM_NCDESTROY that the agent did not cause: when the window is really gone, the agent can no
// longer be found or told anything, and its events learn so. A forged message changes nothing.
void AgentWindowHost::EndIfWindowGone() {
  if (!std::exchange(foreignDestructionSeen_, false) || agentWindow_ == nullptr || ::IsWindow(agentWindow_) != FALSE) {
    return;
  }
  agentWindow_ = nullptr;
  attachedWindow_ = nullptr;
  events_->OnWindowGone();
}

}  // namespace velmor::win32impl
