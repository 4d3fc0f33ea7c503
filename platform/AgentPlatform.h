// The seam between the agent's logic and the operating system.
//
// Every operating-system call the agent makes goes through this interface, most under their Windows
// names, and nothing the agent does not call is here. The types below are portable stand-ins for the
// Windows ones, so that the logic builds and is tested on any host; only the Windows implementation
// (platform/win32/) includes <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmor {

// Opaque handles. The value 0 is the null handle of every kind.
enum class WindowHandle : std::uintptr_t {};   // HWND
enum class KernelHandle : std::uintptr_t {};   // HANDLE (mappings, processes, tokens)
enum class ServiceHandle : std::uintptr_t {};  // SC_HANDLE
enum class RegistryKey : std::uintptr_t {};    // HKEY

inline constexpr WindowHandle kNoWindow{};

// HKEY_LOCAL_MACHINE, as Windows defines it ((HKEY)0x80000002).
inline constexpr RegistryKey kHkeyLocalMachine{0x80000002U};

// A Win32 status code: 0 is success, anything else an error as GetLastError reports it.
using Win32Status = std::uint32_t;

// Window-message parameters, pointer-sized like WPARAM and LPARAM.
using MessageWParam = std::uintptr_t;
using MessageLParam = std::intptr_t;
using MessageResult = std::intptr_t;

// Bytes in the system's ANSI code page (captions, object names).
using AnsiString = std::string;

// Numbers of the Windows API that the logic passes through the seam, by concern.
namespace win32 {
// Status codes, as GetLastError and the registry calls report them.
inline constexpr Win32Status kErrorSuccess = 0;
inline constexpr Win32Status kErrorFileNotFound = 2;
inline constexpr Win32Status kErrorAccessDenied = 5;
inline constexpr Win32Status kErrorInvalidHandle = 6;
inline constexpr Win32Status kErrorInvalidData = 13;
inline constexpr Win32Status kErrorAlreadyExists = 183;
inline constexpr Win32Status kErrorMoreData = 234;
inline constexpr Win32Status kErrorServiceDoesNotExist = 1060;
inline constexpr Win32Status kErrorServiceCannotAcceptCtrl = 1061;
inline constexpr Win32Status kErrorServiceNotActive = 1062;

// Windows and their messages.
inline constexpr std::uint32_t kWmNull = 0x0000;
inline constexpr std::uint32_t kWmClose = 0x0010;
inline constexpr std::uint32_t kWmEndSession = 0x0016;
inline constexpr std::uint32_t kWmQuit = 0x0012;
inline constexpr std::uintptr_t kEndSessionCloseApp = 0x1;  // WM_ENDSESSION's lParam: the Restart Manager
inline constexpr std::uint32_t kSmtoAbortIfHung = 0x0002;
inline constexpr int kSwRestore = 9;

// Paths and command lines, in UTF-16 code units: the longest path GetModuleFileNameW and
// QueryFullProcessImageNameW can return, its terminating NUL included, and the longest command line
// that Windows starts.
inline constexpr std::size_t kLongestPathUnits = 32768;
inline constexpr std::size_t kLongestCommandLineUnits = 32767;

// Kernel objects and processes.
inline constexpr std::uint32_t kPageReadWrite = 0x04;
inline constexpr std::uint32_t kFileMapAllAccess = 0xF001F;
inline constexpr std::uint32_t kProcessTerminate = 0x0001;
inline constexpr std::uint32_t kProcessQueryLimitedInformation = 0x1000;
inline constexpr std::uint32_t kSynchronize = 0x00100000;
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitAbandoned = 0x80;
// The integrity level of LocalSystem's token (SECURITY_MANDATORY_SYSTEM_RID).
inline constexpr std::uint32_t kSystemIntegrityLevel = 0x4000;

// The version test.
inline constexpr std::uint32_t kVerMinorVersion = 0x0000001;
inline constexpr std::uint32_t kVerMajorVersion = 0x0000002;
inline constexpr std::uint32_t kVerServicePackMajor = 0x0000020;
inline constexpr std::uint8_t kVerGreaterEqual = 3;

// The registry. A 32-bit process sees the 32-bit view anyway; the flag names it for a 64-bit build.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyWow64_32Key = 0x0200;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;

// The service manager.
inline constexpr std::uint32_t kScManagerConnect = 0x0001;
inline constexpr std::uint32_t kServiceUserDefinedControl = 0x0100;

// Privileges and shutdown.
inline constexpr std::uint32_t kTokenAdjustPrivileges = 0x0020;
inline constexpr std::uint32_t kTokenQuery = 0x0008;
inline constexpr std::uint32_t kSePrivilegeEnabled = 0x00000002;
inline constexpr std::uint32_t kEwxReboot = 0x00000002;

// Restart after an update (RegisterApplicationRestart): the cases in which Windows does not start the
// program again.
inline constexpr std::uint32_t kRestartNoCrash = 0x1;
inline constexpr std::uint32_t kRestartNoHang = 0x2;
inline constexpr std::uint32_t kRestartNoReboot = 0x8;
}  // namespace win32

// OSVERSIONINFOEXW, field for field, 284 bytes as on Windows.
struct OsVersionInfoEx {
  std::uint32_t dwOSVersionInfoSize;
  std::uint32_t dwMajorVersion;
  std::uint32_t dwMinorVersion;
  std::uint32_t dwBuildNumber;
  std::uint32_t dwPlatformId;
  char16_t szCSDVersion[128];
  std::uint16_t wServicePackMajor;
  std::uint16_t wServicePackMinor;
  std::uint16_t wSuiteMask;
  std::uint8_t wProductType;
  std::uint8_t wReserved;
};
static_assert(sizeof(OsVersionInfoEx) == 284, "must match OSVERSIONINFOEXW");

// A LUID as LookupPrivilegeValueA returns it.
struct Luid {
  std::uint32_t LowPart;
  std::int32_t HighPart;
};

// TOKEN_PRIVILEGES with its single entry.
struct TokenPrivilege {
  std::uint32_t PrivilegeCount;
  Luid PrivilegeLuid;
  std::uint32_t Attributes;
};

// The three standard message dialogs.
enum class DialogKind {
  Error,         // caption "Error", one "OK" button
  Information,   // caption "Information", one "OK" button
  Confirmation,  // caption "Confirm", "&Yes" (default) and "&No"; Esc answers No
};

// What a dialog returned. Esc and the close box answer as the last button does (Ok, or No on a
// confirmation); Cancelled means the dialog was torn down unanswered (a quit request, its owner gone);
// NotShown that it could not be made at all (GetLastError says why).
enum class DialogResult { Ok, Yes, No, Cancelled, NotShown };

// A timer of a window, by the id the window's owner gives it (Windows carries it in WM_TIMER's
// wParam). The seam keeps no list of them: the agent window decides what each of its timers is for.
using TimerId = std::uintptr_t;

// What the agent window hands to the logic: one event for each message the agent serves; any other
// message gets the default handling. A tick comes only for a timer that runs and is due: one that
// anybody else posted, or one still queued when its timer was stopped, is dropped.
class AgentWindowEvents {
 public:
  virtual ~AgentWindowEvents() = default;

  // A tick of one of the window's running timers.
  virtual void OnTimer(TimerId timer) = 0;
  // The agent's command message (peers/AgentContract.h), sent or posted by any process.
  virtual void OnAgentCommand(MessageWParam command, MessageLParam argument) = 0;
  // A request to close the window from outside (WM_CLOSE, the system menu). The default handling,
  // which would destroy the window at once, does not run: the logic ends the agent itself.
  virtual void OnCloseRequest() = 0;
  // The window was destroyed by another program (made a child of a window of its own, which it then
  // destroyed): the agent can no longer be found or told anything. No event follows this one.
  virtual void OnWindowGone() = 0;
  // WM_ENDSESSION: the session ends (`ending`), or an end that WM_QUERYENDSESSION announced was called
  // off. `closeApplicationOnly` (ENDSESSION_CLOSEAPP) is the Restart Manager asking this program
  // alone to end, so that an installer can replace its files. WM_QUERYENDSESSION itself gets the
  // default answer, yes: the agent holds nothing that is worth keeping a session up for.
  virtual void OnEndSession(bool ending, bool closeApplicationOnly) = 0;
  // WM_QUIT that the agent did not ask for, posted to its window or its thread by another program (or
  // sent to its window): the message loop, or a dialog's, would end on it without the agent's close.
  virtual void OnQuitMessage() = 0;
};

class AgentPlatform {
 public:
  AgentPlatform() = default;
  AgentPlatform(const AgentPlatform&) = delete;
  AgentPlatform& operator=(const AgentPlatform&) = delete;
  AgentPlatform(AgentPlatform&&) = delete;
  AgentPlatform& operator=(AgentPlatform&&) = delete;
  virtual ~AgentPlatform() = default;

  // --- The agent window, its timers and the message loop -------------------------------------
  // Creates the hidden, borderless top-level agent window (150 x 150 client area, centred) with
  // the given class name and caption; it is never shown. Events go to `events` until it is destroyed.
  virtual WindowHandle CreateAgentWindow(std::string_view className, std::string_view caption,
                                         AgentWindowEvents& events) = 0;
  // Destroys the agent window: open dialogs owned by it close, and no more events are delivered.
  // Once the message loop has ended, the process's end may take the window instead.
  virtual void DestroyAgentWindow(WindowHandle window) = 0;
  virtual bool SetWindowTextA(WindowHandle window, std::string_view caption) = 0;
  // ShowWindow(window, SW_HIDE).
  virtual void HideWindow(WindowHandle window) = 0;
  virtual bool SetTimer(WindowHandle window, TimerId timer, std::uint32_t intervalMs) = 0;
  virtual bool KillTimer(WindowHandle window, TimerId timer) = 0;
  // Runs the message loop until the application is asked to terminate; returns the exit code.
  virtual int RunMessageLoop() = 0;
  // The framework's terminate request: the loop ends once control returns to it.
  virtual void TerminateApplication() = 0;

  // --- Other windows --------------------------------------------------------------------------
  virtual WindowHandle FindWindowA(std::string_view className, std::string_view caption) = 0;
  // FindWindowExA(null, after, className, caption): the next top-level window of that class and
  // caption after `after` in the z-order (from the top when `after` is null).
  virtual WindowHandle FindWindowExA(WindowHandle after, std::string_view className, std::string_view caption) = 0;
  virtual bool IsWindow(WindowHandle window) = 0;
  virtual bool IsWindowVisible(WindowHandle window) = 0;
  virtual bool PostMessageA(WindowHandle window, std::uint32_t message, MessageWParam wParam, MessageLParam lParam) = 0;
  // Returns false when the call timed out or the window is hung or gone (GetLastError tells which).
  virtual bool SendMessageTimeoutA(WindowHandle window, std::uint32_t message, MessageWParam wParam,
                                   MessageLParam lParam, std::uint32_t flags, std::uint32_t timeoutMs,
                                   MessageResult& result) = 0;
  // SwitchToThisWindow, which waits on the window's thread: made on a thread of its own, whose end is
  // waited for at most `timeoutMs`. False when it had not finished by then (GetLastError says
  // ERROR_TIMEOUT; the switch may still finish later) or could not be made at all.
  virtual bool SwitchToThisWindow(WindowHandle window, bool altTab, std::uint32_t timeoutMs) = 0;
  // AllowSetForegroundWindow(processId): lets that process take the foreground, as this one may.
  virtual bool AllowSetForegroundWindow(std::uint32_t processId) = 0;
  // Returns the id of the process that owns the window, 0 when there is none.
  virtual std::uint32_t GetWindowThreadProcessId(WindowHandle window) = 0;
  // Answers the message being handled when another thread sent it, so that the sender goes on;
  // false when there is no sender waiting.
  virtual bool ReplyMessage(MessageResult result) = 0;

  // --- Dialogs --------------------------------------------------------------------------------
  // True when this process's window station is interactive (WSF_VISIBLE): a dialog it shows can be
  // seen and answered. A service's station is not, nor an installer service's, where an install's
  // elevated actions run on Windows; a dialog there waits for an answer that never comes.
  virtual bool IsWindowStationInteractive() = 0;
  // Shows a modal message dialog owned by the agent window. While it is open, the agent window
  // keeps receiving its timer ticks and messages.
  virtual DialogResult ShowMessageDialog(DialogKind kind, std::wstring_view text, bool topmost) = 0;

  // --- Kernel objects and the process ---------------------------------------------------------
  // CreateFileMappingA(INVALID_HANDLE_VALUE, null, protect, maxSizeHigh, maxSizeLow, name).
  virtual KernelHandle CreateFileMappingA(std::uint32_t protect, std::uint32_t maxSizeHigh, std::uint32_t maxSizeLow,
                                          std::string_view name) = 0;
  virtual KernelHandle OpenFileMappingA(std::uint32_t access, bool inheritHandle, std::string_view name) = 0;
  // CreateMutexA(null, FALSE, name): a named mutex, not owned; GetLastError says 183 when it existed.
  virtual KernelHandle CreateMutexA(std::string_view name) = 0;
  virtual bool ReleaseMutex(KernelHandle mutex) = 0;
  virtual bool CloseHandle(KernelHandle handle) = 0;
  virtual Win32Status GetLastError() = 0;
  virtual void SetLastError(Win32Status error) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  virtual bool SetCurrentDirectoryW(std::wstring_view path) = 0;
  // The executable's full path as Windows holds it, in UTF-16 (GetModuleFileNameW of the process's
  // module); empty when it cannot be read whole.
  virtual std::wstring GetModuleFileNameW() = 0;
  // The whole command line, as GetCommandLineW gives it.
  virtual std::wstring GetCommandLineW() = 0;
  virtual KernelHandle GetCurrentProcess() = 0;
  virtual KernelHandle OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) = 0;
  virtual bool TerminateProcess(KernelHandle process, std::uint32_t exitCode) = 0;
  // Returns WAIT_OBJECT_0 (0) when the object was signalled, WAIT_ABANDONED (0x80) for a mutex whose
  // owner ended without releasing it (the caller owns it now), another WAIT_ value otherwise.
  virtual std::uint32_t WaitForSingleObject(KernelHandle handle, std::uint32_t timeoutMs) = 0;
  virtual std::uint32_t GetCurrentProcessId() = 0;
  virtual bool ProcessIdToSessionId(std::uint32_t processId, std::uint32_t& sessionId) = 0;
  // The full path of the process's executable, in UTF-16 as Windows holds it; empty when it cannot be
  // read (the handle needs PROCESS_QUERY_LIMITED_INFORMATION).
  virtual std::wstring QueryFullProcessImageNameW(KernelHandle process) = 0;
  // The mandatory integrity level of the process's token (the last part of its label, 0x2000 for
  // medium, 0x3000 for high); nothing when it cannot be read.
  virtual std::optional<std::uint32_t> GetProcessIntegrityLevel(KernelHandle process) = 0;
  // True when this process runs with the elevated half of a split token (TokenElevationTypeFull):
  // with rights that the user's own programs on this desktop do not have.
  virtual bool IsCurrentProcessElevated() = 0;

  // --- Version test ---------------------------------------------------------------------------
  virtual std::uint64_t VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeBitMask,
                                            std::uint8_t condition) = 0;
  virtual bool VerifyVersionInfoW(OsVersionInfoEx& versionInfo, std::uint32_t typeMask,
                                  std::uint64_t conditionMask) = 0;

  // --- Registry -------------------------------------------------------------------------------
  virtual Win32Status RegOpenKeyExA(RegistryKey root, std::string_view subKey, std::uint32_t options,
                                    std::uint32_t access, RegistryKey& result) = 0;
  // The value as the registry stores it, a string as UTF-16 code units (little-endian) with no
  // conversion to the code page. `type` receives the value's type; `size` holds the buffer size in
  // bytes on entry and the data size after.
  virtual Win32Status RegQueryValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t& type,
                                       std::uint8_t* data, std::uint32_t& size) = 0;
  // Stores `size` bytes as they are: a string as UTF-16 code units with their NUL.
  virtual Win32Status RegSetValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t type,
                                     const std::uint8_t* data, std::uint32_t size) = 0;
  virtual Win32Status RegCloseKey(RegistryKey key) = 0;

  // --- Service Control Manager ----------------------------------------------------------------
  // OpenSCManagerA(null, null, access): the local machine's active database.
  virtual ServiceHandle OpenSCManagerA(std::uint32_t access) = 0;
  virtual ServiceHandle OpenServiceA(ServiceHandle manager, std::string_view serviceName, std::uint32_t access) = 0;
  // ControlService with a local SERVICE_STATUS that the caller never looks at.
  virtual bool ControlService(ServiceHandle service, std::uint32_t control) = 0;
  virtual bool CloseServiceHandle(ServiceHandle handle) = 0;

  // --- Privileges and shutdown ----------------------------------------------------------------
  virtual bool OpenProcessToken(KernelHandle process, std::uint32_t access, KernelHandle& token) = 0;
  // LookupPrivilegeValueA(null, name, &luid).
  virtual bool LookupPrivilegeValueA(std::string_view privilegeName, Luid& luid) = 0;
  // AdjustTokenPrivileges(token, disableAll, &privileges, 0, null, null).
  virtual bool AdjustTokenPrivileges(KernelHandle token, bool disableAllPrivileges, const TokenPrivilege& newState) = 0;
  virtual bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) = 0;
  // RegisterApplicationRestart(commandLine, flags): once the Restart Manager has ended this process
  // for an update, it starts the same executable again in this session with these arguments (the
  // executable's path is not part of them). True when registered (S_OK).
  virtual bool RegisterApplicationRestart(std::wstring_view arguments, std::uint32_t flags) = 0;

  // --- The trace -----------------------------------------------------------------------------
  // One line for whoever listens on the system's debug output channel (platform/Trace.h), written
  // without waiting more than a few milliseconds on the listener: a line that cannot go now is lost.
  // Keeps the thread's last error, as a line may be written between a call and the look at its error.
  virtual void OutputDebugStringA(std::string_view text) = 0;

  // --- Shell ----------------------------------------------------------------------------------
  // ShellExecuteW(null, operation, file, null, null, showCommand); returns the instance value.
  virtual std::intptr_t ShellExecuteW(std::wstring_view operation, std::wstring_view file, int showCommand) = 0;
};

}  // namespace velmor
