// The Windows implementation of AgentPlatform: most methods are the Windows call of the same name,
// with the seam's portable types converted at the boundary; the agent window's procedure turns the
// messages the agent serves into the logic's events.
//
// The logic reads GetLastError right after a call, so no method calls anything between the real
// call and its return that could change the thread's last error: strings are copied before the call.
#include "platform/win32/Win32Platform.h"

#include <windows.h>
// windows.h first: these need its types.
#include <objbase.h>
#include <shellapi.h>
#include <winsvc.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "peers/AgentContract.h"
#include "platform/win32/MessageDialog.h"
#include "platform/win32/TraceChannel.h"
#include "platform/win32/Win32Handles.h"

namespace velmor {

namespace {

// --- Handle conversions: the one place where the seam's handles meet the Windows ones -----------

HWND ToHwnd(WindowHandle window) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}
WindowHandle FromHwnd(HWND window) {
  return WindowHandle{reinterpret_cast<std::uintptr_t>(window)};
}

HANDLE ToHandle(KernelHandle handle) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
}
KernelHandle FromHandle(HANDLE handle) {
  return KernelHandle{reinterpret_cast<std::uintptr_t>(handle)};
}

SC_HANDLE ToScHandle(ServiceHandle handle) {
  return reinterpret_cast<SC_HANDLE>(static_cast<std::uintptr_t>(handle));
}
ServiceHandle FromScHandle(SC_HANDLE handle) {
  return ServiceHandle{reinterpret_cast<std::uintptr_t>(handle)};
}

HKEY ToHkey(RegistryKey key) {
  if (key == kHkeyLocalMachine) {
    return HKEY_LOCAL_MACHINE;
  }
  return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(key));
}
RegistryKey FromHkey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) {
    return kHkeyLocalMachine;
  }
  return RegistryKey{reinterpret_cast<std::uintptr_t>(key)};
}

// --- The agent window ---------------------------------------------------------------------------

constexpr int kAgentClientSize = 150;

// What the window procedure knows of the agent window: where its events go, and when each of its
// running timers falls due next (GetTickCount64 milliseconds), by timer id.
struct AgentWindowLink {
  struct Schedule {
    TimerId id = 0;
    ULONGLONG intervalMs = 0;
    ULONGLONG nextDue = 0;
  };
  AgentWindowEvents* events = nullptr;
  std::vector<Schedule> timers;  // the running ones: a handful, looked up in order

  Schedule* Find(TimerId id) {
    const auto found = std::find_if(timers.begin(), timers.end(), [id](const Schedule& s) { return s.id == id; });
    return found == timers.end() ? nullptr : &*found;
  }
};

// A tick may be seen a little before its due time by the clock read here.
constexpr ULONGLONG kTickToleranceMs = 50;

// Set only while the agent's own CreateWindowExA, DestroyWindow and SetWindowTextA run on this
// thread: WM_NCCREATE attaches the link, WM_NCDESTROY detaches it and WM_SETTEXT renames the window
// only then. Any process can send the window these messages; from elsewhere they change nothing.
AgentWindowLink* linkOfWindowBeingCreated = nullptr;
HWND windowBeingDestroyed = nullptr;
bool renamingAgentWindow = false;

// The agent window and where its messages go, kept in this process's own memory: a window's user
// data can be written by any program of the desktop. The agent has one window.
struct AttachedWindow {
  HWND window = nullptr;
  AgentWindowLink* link = nullptr;
};
AttachedWindow attached;

// Set when the agent window received WM_NCDESTROY without the agent destroying it: forged, or the
// window really going (another program made it a child of its own window and destroyed that). The
// message loop then looks whether the window is still there.
bool foreignDestructionSeen = false;

// DispatchMessage calls the function whose address a timer message carries in its lParam, whichever
// window the message names, or none. The agent's timers have no such function, and any program can
// post the agent's windows or thread such a message: it is never dispatched.
constexpr UINT kWmSysTimer = 0x0118;  // the system's own timer message, dispatched the same way
bool CarriesTimerCallback(const MSG& message) {
  return (message.message == WM_TIMER || message.message == kWmSysTimer) && message.lParam != 0;
}

// The same for the message loops that are not the agent's own (its modal dialogs): they hand each
// message to the thread's message filter before they dispatch it, and skip it when the filter says so.
LRESULT CALLBACK FilterModalLoopMessage(int code, WPARAM wParam, LPARAM lParam) noexcept {
  if (code >= 0 && lParam != 0 && CarriesTimerCallback(*reinterpret_cast<const MSG*>(lParam))) {
    return TRUE;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The message filter of this thread, for as long as the platform lives.
class ModalLoopFilter {
 public:
  ModalLoopFilter() : hook_(SetWindowsHookExW(WH_MSGFILTER, FilterModalLoopMessage, nullptr, ::GetCurrentThreadId())) {}
  ModalLoopFilter(const ModalLoopFilter&) = delete;
  ModalLoopFilter& operator=(const ModalLoopFilter&) = delete;
  ~ModalLoopFilter() {
    if (hook_ != nullptr) {
      UnhookWindowsHookEx(hook_);
    }
  }

 private:
  HHOOK hook_;
};

// The timer of a tick, when it is one of the agent's, runs and is due; anyone can post WM_TIMER. The
// id is compared whole, as WPARAM: no wider value passes for an agent timer by truncation.
bool TakeTick(AgentWindowLink& link, WPARAM id) {
  AgentWindowLink::Schedule* const found = link.Find(id);
  if (found == nullptr) {
    return false;
  }
  AgentWindowLink::Schedule& schedule = *found;
  const ULONGLONG now = ::GetTickCount64() + kTickToleranceMs;
  if (now < schedule.nextDue) {
    return false;
  }
  while (schedule.nextDue <= now) {  // ticks do not pile up: the next one is the next due time
    schedule.nextDue += schedule.intervalMs;
  }
  return true;
}

// Turns the messages that the agent serves into its events; every other one gets the default handling.
LRESULT HandleAgentMessage(AgentWindowLink& link, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (TakeTick(link, wParam)) {
        link.events->OnTimer(wParam);
      }
      return 0;
    case WM_CLOSE:
      link.events->OnCloseRequest();
      return 0;
    case WM_SETTEXT:
      if (!renamingAgentWindow || ::InSendMessage() != FALSE) {
        return FALSE;  // the agent keeps the caption it set: others find it by it
      }
      return DefWindowProcA(window, message, wParam, lParam);
    case peers::kAgentCommandMessage:
      link.events->OnAgentCommand(wParam, lParam);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// Forwards the agent window's messages to the link that the agent's own creation of the window
// attached. The agent is built without exceptions, so none can unwind through the system's code
// that called this procedure.
LRESULT CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    if (linkOfWindowBeingCreated == nullptr || ::InSendMessage() != FALSE) {
      return 0;  // not the agent's own creation: neither the link nor the default handling
    }
    attached = {window, std::exchange(linkOfWindowBeingCreated, nullptr)};
    return DefWindowProcA(window, message, wParam, lParam);
  }
  if (window != attached.window) {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    if (window != windowBeingDestroyed || ::InSendMessage() != FALSE) {
      // Have the loop look, once this message is over, whether the window is really gone.
      foreignDestructionSeen = true;
      ::PostThreadMessageA(::GetCurrentThreadId(), WM_NULL, 0, 0);
      return 0;
    }
    attached = {};
    return DefWindowProcA(window, message, wParam, lParam);
  }
  return HandleAgentMessage(*attached.link, window, message, wParam, lParam);
}

UniqueWin32Handle OpenTokenForQuery(HANDLE process) {
  UniqueWin32Handle token;
  if (::OpenProcessToken(process, TOKEN_QUERY, &token.put()) == FALSE) {
    token.reset();
  }
  return token;
}

// --- The shell, loaded when the first page is opened ------------------------------------------

// A function of a library loaded at run time, as its declared type; null when the library is not
// loaded or lacks it.
template <typename Function>
Function LoadFunction(HMODULE library, const char* name) {
  if (library == nullptr) {
    return nullptr;
  }
  // GetProcAddress's generic type is cast through the one that stands for any function.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// shell32 and COM cost every agent memory and start time, yet most agents never open a page: they
// are loaded the first time one is, from the system folder only (never from the agent's folder or
// the current one), and stay for the process's life. COM is initialised then on this thread, as
// ShellExecute asks of its callers: the shell may hand a URL to a handler that needs it.
class Shell {
 public:
  Shell() = default;
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;
  ~Shell() {
    if (comInitialized_) {
      LoadFunction<decltype(&CoUninitialize)>(ole32_, "CoUninitialize")();
    }
  }

  // ShellExecuteW, or null when shell32 cannot be loaded.
  decltype(&::ShellExecuteW) ShellExecuteFunction() {
    if (!loaded_) {
      loaded_ = true;
      ole32_ = LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
      if (const auto coInitializeEx = LoadFunction<decltype(&CoInitializeEx)>(ole32_, "CoInitializeEx")) {
        comInitialized_ = SUCCEEDED(coInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
      }
      shellExecute_ = LoadFunction<decltype(&::ShellExecuteW)>(
          LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32), "ShellExecuteW");
    }
    return shellExecute_;
  }

 private:
  bool loaded_ = false;
  HMODULE ole32_ = nullptr;
  bool comInitialized_ = false;
  decltype(&::ShellExecuteW) shellExecute_ = nullptr;
};

class Win32Platform final : public AgentPlatform {
 public:
  // --- The agent window, its timers and the message loop ---------------------------------------

  WindowHandle CreateAgentWindow(std::string_view className, std::string_view caption,
                                 AgentWindowEvents& events) override {
    const std::string classCopy(className);
    const std::string captionCopy(caption);
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!classRegistered_) {
      WNDCLASSEXA windowClass{};
      windowClass.cbSize = sizeof(windowClass);
      windowClass.lpfnWndProc = AgentWindowProc;
      windowClass.hInstance = instance;
      windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
      windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
      windowClass.lpszClassName = classCopy.c_str();
      if (RegisterClassExA(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return kNoWindow;
      }
      classRegistered_ = true;
    }

    // No border: the window rectangle is the 150 x 150 client area, centred on the screen.
    constexpr DWORD kStyle = WS_POPUP;  // never WS_VISIBLE: the window is never shown
    RECT frame{0, 0, kAgentClientSize, kAgentClientSize};
    AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

    link_ = AgentWindowLink{&events, {}};
    linkOfWindowBeingCreated = &link_;
    const HWND window = CreateWindowExA(0, classCopy.c_str(), captionCopy.c_str(), kStyle, left, top, width, height,
                                        nullptr, nullptr, instance, nullptr);
    linkOfWindowBeingCreated = nullptr;
    if (window != nullptr) {
      agentWindow_ = window;
    }
    return FromHwnd(window);
  }

  void DestroyAgentWindow(WindowHandle window) override {
    const HWND hwnd = ToHwnd(window);
    if (hwnd == agentWindow_) {
      agentWindow_ = nullptr;
    }
    if (loopEnded_) {
      // The process ends next, and the system takes the window with its thread at no cost.
      // DestroyWindow would first walk the thread's windows (the input method's own among them) and
      // send each its messages: under Wine, most of what the quit cost beyond a bare program's exit.
      return;
    }
    if (::IsWindow(hwnd)) {  // it may be gone already
      windowBeingDestroyed = hwnd;
      DestroyWindow(hwnd);
      windowBeingDestroyed = nullptr;
    }
  }

  bool SetWindowTextA(WindowHandle window, std::string_view caption) override {
    const std::string copy(caption);
    renamingAgentWindow = true;
    const BOOL renamed = ::SetWindowTextA(ToHwnd(window), copy.c_str());
    renamingAgentWindow = false;
    return renamed != FALSE;
  }

  void HideWindow(WindowHandle window) override { ShowWindow(ToHwnd(window), SW_HIDE); }

  bool SetTimer(WindowHandle window, TimerId timer, std::uint32_t intervalMs) override {
    if (::SetTimer(ToHwnd(window), timer, intervalMs, nullptr) == 0) {
      return false;
    }
    if (ToHwnd(window) == agentWindow_) {
      const ULONGLONG interval = std::max<ULONGLONG>(intervalMs, USER_TIMER_MINIMUM);  // as Windows raises it
      const AgentWindowLink::Schedule schedule{timer, interval, ::GetTickCount64() + interval};
      if (AgentWindowLink::Schedule* const running = link_.Find(timer)) {
        *running = schedule;
      } else {
        link_.timers.push_back(schedule);
      }
    }
    return true;
  }

  bool KillTimer(WindowHandle window, TimerId timer) override {
    if (ToHwnd(window) == agentWindow_) {
      std::erase_if(link_.timers, [timer](const AgentWindowLink::Schedule& s) { return s.id == timer; });
    }
    return ::KillTimer(ToHwnd(window), timer) != FALSE;
  }

  int RunMessageLoop() override {
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {  // 0 is WM_QUIT, -1 an error
      if (!CarriesTimerCallback(message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
      EndIfWindowGone();
    }
    loopEnded_ = true;
    return 0;
  }

  void TerminateApplication() override { PostQuitMessage(0); }

  // After a WM_NCDESTROY that the agent did not cause: when the window is really gone, the agent can
  // no longer be found or told anything, and its events learn so. A forged message changes nothing.
  void EndIfWindowGone() {
    if (!std::exchange(foreignDestructionSeen, false) || agentWindow_ == nullptr || ::IsWindow(agentWindow_)) {
      return;
    }
    agentWindow_ = nullptr;
    attached = {};
    link_.events->OnWindowGone();
  }

  // --- Other windows ---------------------------------------------------------------------------

  WindowHandle FindWindowA(std::string_view className, std::string_view caption) override {
    const std::string classCopy(className);
    const std::string captionCopy(caption);
    return FromHwnd(::FindWindowA(classCopy.c_str(), captionCopy.c_str()));
  }

  WindowHandle FindWindowExA(WindowHandle after, std::string_view className, std::string_view caption) override {
    const std::string classCopy(className);
    const std::string captionCopy(caption);
    return FromHwnd(::FindWindowExA(nullptr, ToHwnd(after), classCopy.c_str(), captionCopy.c_str()));
  }

  bool IsWindow(WindowHandle window) override { return ::IsWindow(ToHwnd(window)) != FALSE; }

  bool IsWindowVisible(WindowHandle window) override { return ::IsWindowVisible(ToHwnd(window)) != FALSE; }

  bool PostMessageA(WindowHandle window, std::uint32_t message, MessageWParam wParam, MessageLParam lParam) override {
    return ::PostMessageA(ToHwnd(window), message, wParam, lParam) != FALSE;
  }

  bool SendMessageTimeoutA(WindowHandle window, std::uint32_t message, MessageWParam wParam, MessageLParam lParam,
                           std::uint32_t flags, std::uint32_t timeoutMs, MessageResult& result) override {
    DWORD_PTR answer = 0;
    const LRESULT sent = ::SendMessageTimeoutA(ToHwnd(window), message, wParam, lParam, flags, timeoutMs, &answer);
    result = static_cast<MessageResult>(answer);
    return sent != 0;
  }

  void SwitchToThisWindow(WindowHandle window, bool altTab) override {
    ::SwitchToThisWindow(ToHwnd(window), altTab ? TRUE : FALSE);
  }

  std::uint32_t GetWindowThreadProcessId(WindowHandle window) override {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(ToHwnd(window), &processId);
    return processId;
  }

  bool ReplyMessage(MessageResult result) override { return ::ReplyMessage(result) != FALSE; }

  // --- Dialogs ---------------------------------------------------------------------------------

  bool IsWindowStationInteractive() override {
    // The process's window station handle is not to be closed. When its flags cannot be read, the
    // station counts as interactive: the dialog is shown as it always was.
    USEROBJECTFLAGS flags{};
    const HWINSTA station = ::GetProcessWindowStation();
    if (station == nullptr ||
        ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr) == FALSE) {
      return true;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
  }

  DialogResult ShowMessageDialog(DialogKind kind, std::wstring_view text, bool topmost) override {
    // Owned by the agent window while it exists, so that destroying the window closes the dialog.
    const HWND owner = agentWindow_ != nullptr && ::IsWindow(agentWindow_) ? agentWindow_ : nullptr;
    return win32impl::ShowMessageDialog(owner, kind, text, topmost);
  }

  // --- Kernel objects and the process ----------------------------------------------------------

  KernelHandle CreateFileMappingA(std::uint32_t protect, std::uint32_t maxSizeHigh, std::uint32_t maxSizeLow,
                                  std::string_view name) override {
    const std::string copy(name);
    return FromHandle(
        ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, protect, maxSizeHigh, maxSizeLow, copy.c_str()));
  }

  KernelHandle OpenFileMappingA(std::uint32_t access, bool inheritHandle, std::string_view name) override {
    const std::string copy(name);
    return FromHandle(::OpenFileMappingA(access, inheritHandle ? TRUE : FALSE, copy.c_str()));
  }

  KernelHandle CreateMutexA(std::string_view name) override {
    const std::string copy(name);
    return FromHandle(::CreateMutexA(nullptr, FALSE, copy.c_str()));
  }

  bool ReleaseMutex(KernelHandle mutex) override { return ::ReleaseMutex(ToHandle(mutex)) != FALSE; }

  bool CloseHandle(KernelHandle handle) override { return ::CloseHandle(ToHandle(handle)) != FALSE; }

  Win32Status GetLastError() override { return ::GetLastError(); }

  void SetLastError(Win32Status error) override { ::SetLastError(error); }

  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

  bool SetCurrentDirectoryW(std::wstring_view path) override {
    const std::wstring copy(path);
    return ::SetCurrentDirectoryW(copy.c_str()) != FALSE;
  }

  std::wstring GetModuleFileNameW() override {
    // A long path does not fit MAX_PATH: grow the buffer until the whole path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) {
        return std::wstring();
      }
      if (length < path.size()) {
        path.resize(length);
        return path;
      }
      if (path.size() >= kMaxModulePath) {
        return std::wstring();  // truncated even at the longest path Windows allows
      }
      path.resize(path.size() * 2);
    }
  }

  std::wstring GetCommandLineW() override {
    const wchar_t* commandLine = ::GetCommandLineW();
    return commandLine != nullptr ? std::wstring(commandLine) : std::wstring();
  }

  bool IsDBCSLeadByte(std::uint8_t byte) override { return ::IsDBCSLeadByte(byte) != FALSE; }

  KernelHandle GetCurrentProcess() override { return FromHandle(::GetCurrentProcess()); }

  KernelHandle OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) override {
    return FromHandle(::OpenProcess(access, inheritHandle ? TRUE : FALSE, processId));
  }

  bool TerminateProcess(KernelHandle process, std::uint32_t exitCode) override {
    return ::TerminateProcess(ToHandle(process), exitCode) != FALSE;
  }

  std::uint32_t WaitForSingleObject(KernelHandle handle, std::uint32_t timeoutMs) override {
    return ::WaitForSingleObject(ToHandle(handle), timeoutMs);
  }

  std::uint32_t GetCurrentProcessId() override { return ::GetCurrentProcessId(); }

  bool ProcessIdToSessionId(std::uint32_t processId, std::uint32_t& sessionId) override {
    DWORD session = 0;
    const BOOL found = ::ProcessIdToSessionId(processId, &session);
    sessionId = session;
    return found != FALSE;
  }

  AnsiString QueryFullProcessImageNameA(KernelHandle process) override {
    AnsiString path(kMaxModulePath, '\0');
    auto length = static_cast<DWORD>(path.size());
    if (::QueryFullProcessImageNameA(ToHandle(process), 0, path.data(), &length) == FALSE) {
      return AnsiString();
    }
    path.resize(length);
    return path;
  }

  std::optional<std::uint32_t> GetProcessIntegrityLevel(KernelHandle process) override {
    const UniqueWin32Handle token = OpenTokenForQuery(ToHandle(process));
    if (!token) {
      return std::nullopt;
    }
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
    std::vector<std::uint8_t> label(size);
    if (size < sizeof(TOKEN_MANDATORY_LABEL) ||
        ::GetTokenInformation(token.get(), TokenIntegrityLevel, label.data(), size, &size) == FALSE) {
      return std::nullopt;
    }
    const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
    const UCHAR parts = *::GetSidSubAuthorityCount(sid);
    if (parts == 0) {
      return std::nullopt;
    }
    return *::GetSidSubAuthority(sid, parts - 1U);
  }

  bool IsCurrentProcessElevated() override {
    const UniqueWin32Handle token = OpenTokenForQuery(::GetCurrentProcess());
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    return token && ::GetTokenInformation(token.get(), TokenElevationType, &type, sizeof(type), &size) != FALSE &&
           type == TokenElevationTypeFull;
  }

  // --- Version test ----------------------------------------------------------------------------

  std::uint64_t VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeBitMask,
                                    std::uint8_t condition) override {
    return ::VerSetConditionMask(conditionMask, typeBitMask, condition);
  }

  bool VerifyVersionInfoW(OsVersionInfoEx& versionInfo, std::uint32_t typeMask, std::uint64_t conditionMask) override {
    // The portable structure has OSVERSIONINFOEXW's fields in its layout, so it is copied whole.
    static_assert(sizeof(OSVERSIONINFOEXW) == sizeof(OsVersionInfoEx));
    static_assert(offsetof(OSVERSIONINFOEXW, szCSDVersion) == offsetof(OsVersionInfoEx, szCSDVersion));
    static_assert(offsetof(OSVERSIONINFOEXW, wServicePackMajor) == offsetof(OsVersionInfoEx, wServicePackMajor));
    static_assert(offsetof(OSVERSIONINFOEXW, wProductType) == offsetof(OsVersionInfoEx, wProductType));
    OSVERSIONINFOEXW info{};
    std::memcpy(&info, &versionInfo, sizeof(info));
    const BOOL verified = ::VerifyVersionInfoW(&info, typeMask, conditionMask);
    std::memcpy(&versionInfo, &info, sizeof(info));
    return verified != FALSE;
  }

  // --- Registry --------------------------------------------------------------------------------

  Win32Status RegOpenKeyExA(RegistryKey root, std::string_view subKey, std::uint32_t options, std::uint32_t access,
                            RegistryKey& result) override {
    const std::string copy(subKey);
    HKEY key = nullptr;
    const LSTATUS status = ::RegOpenKeyExA(ToHkey(root), copy.c_str(), options, access, &key);
    result = status == ERROR_SUCCESS ? FromHkey(key) : RegistryKey{};
    return static_cast<Win32Status>(status);
  }

  Win32Status RegQueryValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t& type, std::uint8_t* data,
                               std::uint32_t& size) override {
    const std::wstring copy(valueName);
    DWORD valueType = 0;
    DWORD dataSize = size;
    const LSTATUS status = ::RegQueryValueExW(ToHkey(key), copy.c_str(), nullptr, &valueType, data, &dataSize);
    type = valueType;
    size = dataSize;
    return static_cast<Win32Status>(status);
  }

  Win32Status RegSetValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t type, const std::uint8_t* data,
                             std::uint32_t size) override {
    const std::wstring copy(valueName);
    return static_cast<Win32Status>(::RegSetValueExW(ToHkey(key), copy.c_str(), 0, type, data, size));
  }

  Win32Status RegCloseKey(RegistryKey key) override { return static_cast<Win32Status>(::RegCloseKey(ToHkey(key))); }

  // --- Service Control Manager -----------------------------------------------------------------

  ServiceHandle OpenSCManagerA(std::uint32_t access) override {
    return FromScHandle(::OpenSCManagerA(nullptr, nullptr, access));
  }

  ServiceHandle OpenServiceA(ServiceHandle manager, std::string_view serviceName, std::uint32_t access) override {
    const std::string copy(serviceName);
    return FromScHandle(::OpenServiceA(ToScHandle(manager), copy.c_str(), access));
  }

  bool ControlService(ServiceHandle service, std::uint32_t control) override {
    SERVICE_STATUS status{};  // filled in by the call, never looked at
    return ::ControlService(ToScHandle(service), control, &status) != FALSE;
  }

  bool CloseServiceHandle(ServiceHandle handle) override { return ::CloseServiceHandle(ToScHandle(handle)) != FALSE; }

  // --- Privileges and shutdown -----------------------------------------------------------------

  bool OpenProcessToken(KernelHandle process, std::uint32_t access, KernelHandle& token) override {
    HANDLE opened = nullptr;
    const BOOL ok = ::OpenProcessToken(ToHandle(process), access, &opened);
    token = ok != FALSE ? FromHandle(opened) : KernelHandle{};
    return ok != FALSE;
  }

  bool LookupPrivilegeValueA(std::string_view privilegeName, Luid& luid) override {
    const std::string copy(privilegeName);
    LUID found{};
    const BOOL ok = ::LookupPrivilegeValueA(nullptr, copy.c_str(), &found);
    luid.LowPart = found.LowPart;
    luid.HighPart = found.HighPart;
    return ok != FALSE;
  }

  bool AdjustTokenPrivileges(KernelHandle token, bool disableAllPrivileges, const TokenPrivilege& newState) override {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = newState.PrivilegeCount;
    privileges.Privileges[0].Luid.LowPart = newState.PrivilegeLuid.LowPart;
    privileges.Privileges[0].Luid.HighPart = newState.PrivilegeLuid.HighPart;
    privileges.Privileges[0].Attributes = newState.Attributes;
    return ::AdjustTokenPrivileges(ToHandle(token), disableAllPrivileges ? TRUE : FALSE, &privileges, 0, nullptr,
                                   nullptr) != FALSE;
  }

  bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) override {
    return ::ExitWindowsEx(flags, reason) != FALSE;
  }

  // --- The trace -----------------------------------------------------------------------------

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
    const auto shellExecute = shell_.ShellExecuteFunction();
    if (shellExecute == nullptr) {
      return 0;  // what ShellExecute itself returns when the system is out of resources
    }
    return reinterpret_cast<std::intptr_t>(
        shellExecute(nullptr, operationCopy.c_str(), fileCopy.c_str(), nullptr, nullptr, showCommand));
  }

 private:
  // The longest path GetModuleFileNameW can return, in UTF-16 code units.
  static constexpr std::size_t kMaxModulePath = 32768;

  Shell shell_;
  ModalLoopFilter modalLoopFilter_;
  win32impl::TraceChannel traceChannel_;
  bool classRegistered_ = false;
  HWND agentWindow_ = nullptr;  // the owner of the dialogs while it exists
  bool loopEnded_ = false;      // the message loop is over: the process ends next
  AgentWindowLink link_;
};

}  // namespace

namespace {

// DLLs that the process loads from now on come from the system folder only, never from the agent's
// folder or the current one (the start sequence makes them the same). SetDefaultDllDirectories is
// missing before Windows 8 without an update, so it is looked up; SetDllDirectoryW(L"") at least takes
// the current folder out of the search there.
void RestrictDllSearchToSystemFolder() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll"); kernel != nullptr) {
    // The documented way to call an export looked up by name.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr) {
      setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
  }
  SetDllDirectoryW(L"");
}

}  // namespace

std::unique_ptr<AgentPlatform> CreateWin32Platform() {
  RestrictDllSearchToSystemFolder();
  return std::make_unique<Win32Platform>();
}

}  // namespace velmor
