// One simulated process of the simulated desktop: an AgentPlatform with its own id, last error,
// command line, module path, current directory, handle table, message queue and quit request.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AgentPlatform.h"
#include "tests/host/sim/SimSystem.h"

namespace velmor {
struct AgentState;
class AgentWindow;
}  // namespace velmor

namespace velmor::sim {

class SimDesktop;

enum class HandleKind { Mapping, Mutex, Process, Token, ServiceManager, Service, RegistryKey };

struct HandleEntry {
  HandleKind kind;
  std::string name;             // mapping or mutex name, or registry key path
  std::uint32_t targetProcess;  // process handles: the process id
  std::uint32_t access;
};

struct SleepRecord {
  std::uint32_t milliseconds;
  Ms startedAt;
};

// What the process asked Windows to start it again with, should the Restart Manager end it.
struct RestartRegistration {
  std::wstring arguments;
  std::uint32_t flags;
};

struct QueuedMessage {
  WindowHandle window;
  std::uint32_t message;
  MessageWParam wParam;
  MessageLParam lParam;
};

class SimProcess final : public AgentPlatform {
 public:
  // `modulePath` is the executable's path in UTF-8, as GetModuleFileNameW gives it once converted.
  SimProcess(SimDesktop& desktop, std::uint32_t id, std::wstring commandLine, AnsiString modulePath);
  ~SimProcess() override;

  [[nodiscard]] std::uint32_t Id() const { return id_; }
  [[nodiscard]] bool Ended() const { return ended_; }
  [[nodiscard]] bool Terminated() const { return terminated_; }
  [[nodiscard]] bool QuitRequested() const { return quitRequested_; }
  [[nodiscard]] Ms EndedAt() const { return endedAt_; }
  // The agent window created by this process (kept after it was destroyed), null for a bare process.
  [[nodiscard]] WindowHandle AgentWindow() const { return agentWindow_; }
  // The agent's objects; null once the process has ended (or for a bare process).
  [[nodiscard]] AgentState* State() const { return state_.get(); }
  [[nodiscard]] velmor::AgentWindow* Agent() const { return window_.get(); }

  // The current directory and each change asked for, in UTF-8.
  [[nodiscard]] const std::string& CurrentDirectory() const { return currentDirectory_; }
  [[nodiscard]] const std::vector<std::string>& DirectoryChanges() const { return directoryChanges_; }
  [[nodiscard]] const std::vector<SleepRecord>& Sleeps() const { return sleeps_; }
  [[nodiscard]] Ms TotalSlept() const;
  // Handles of a kind this process holds now.
  [[nodiscard]] int OpenHandles(HandleKind kind) const;
  [[nodiscard]] int OpenHandles() const { return static_cast<int>(handles_.size()); }
  // Handles of a kind that were still open when the process ended and that the system closed.
  [[nodiscard]] int HandlesLeftAtExit(HandleKind kind) const;
  // Close calls on handles this process did not hold (double closes, foreign or null handles).
  [[nodiscard]] int InvalidHandleCloses() const { return invalidCloses_; }
  // The lines this process wrote to the debug output channel, in order.
  [[nodiscard]] const std::vector<std::string>& TraceLines() const { return traceLines_; }
  [[nodiscard]] bool HoldsMapping(std::string_view name) const;
  // The kinds of the handles this process closed, in the order it closed them.
  [[nodiscard]] const std::vector<HandleKind>& Closes() const { return closes_; }
  // The process's restart registration, the last one it made; nothing when it made none.
  [[nodiscard]] const std::optional<RestartRegistration>& Restart() const { return restart_; }

  // A blocking send from this process, as another program makes one (the agent itself only sends
  // with a time-out).
  MessageResult SendMessageA(WindowHandle window, std::uint32_t message, MessageWParam wParam, MessageLParam lParam);

  // The process's rights and session, as a test sets them before its start pass.
  bool elevated = false;
  std::uint32_t session = 1;
  std::uint32_t integrityLevel = 0x2000;  // medium
  // False for a process in a non-interactive window station (an installer service's): a dialog it
  // shows there is a fault, as nobody could ever answer it.
  bool interactiveWindowStation = true;

  // --- AgentPlatform ---------------------------------------------------------------------------
  WindowHandle CreateAgentWindow(std::string_view className, std::string_view caption,
                                 AgentWindowEvents& events) override;
  void DestroyAgentWindow(WindowHandle window) override;
  bool SetWindowTextA(WindowHandle window, std::string_view caption) override;
  void HideWindow(WindowHandle window) override;
  bool SetTimer(WindowHandle window, TimerId timer, std::uint32_t intervalMs) override;
  bool KillTimer(WindowHandle window, TimerId timer) override;
  int RunMessageLoop() override;
  void TerminateApplication() override;

  WindowHandle FindWindowA(std::string_view className, std::string_view caption) override;
  WindowHandle FindWindowExA(WindowHandle after, std::string_view className, std::string_view caption) override;
  bool IsWindow(WindowHandle window) override;
  bool IsWindowVisible(WindowHandle window) override;
  bool PostMessageA(WindowHandle window, std::uint32_t message, MessageWParam wParam, MessageLParam lParam) override;
  bool SendMessageTimeoutA(WindowHandle window, std::uint32_t message, MessageWParam wParam, MessageLParam lParam,
                           std::uint32_t flags, std::uint32_t timeoutMs, MessageResult& result) override;
  bool SwitchToThisWindow(WindowHandle window, bool altTab, std::uint32_t timeoutMs) override;
  bool AllowSetForegroundWindow(std::uint32_t processId) override;
  std::uint32_t GetWindowThreadProcessId(WindowHandle window) override;
  bool ReplyMessage(MessageResult result) override;

  bool IsWindowStationInteractive() override { return interactiveWindowStation; }
  DialogResult ShowMessageDialog(DialogKind kind, std::wstring_view text, bool topmost) override;

  KernelHandle CreateFileMappingA(std::uint32_t protect, std::uint32_t maxSizeHigh, std::uint32_t maxSizeLow,
                                  std::string_view name) override;
  KernelHandle OpenFileMappingA(std::uint32_t access, bool inheritHandle, std::string_view name) override;
  KernelHandle CreateMutexA(std::string_view name) override;
  bool ReleaseMutex(KernelHandle mutex) override;
  bool CloseHandle(KernelHandle handle) override;
  Win32Status GetLastError() override { return lastError_; }
  void SetLastError(Win32Status error) override { lastError_ = error; }
  void Sleep(std::uint32_t milliseconds) override;
  bool SetCurrentDirectoryW(std::wstring_view path) override;
  std::wstring GetModuleFileNameW() override;
  std::wstring GetCommandLineW() override { return commandLine_; }
  KernelHandle GetCurrentProcess() override;
  KernelHandle OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) override;
  bool TerminateProcess(KernelHandle process, std::uint32_t exitCode) override;
  std::uint32_t WaitForSingleObject(KernelHandle handle, std::uint32_t timeoutMs) override;
  std::uint32_t GetCurrentProcessId() override { return id_; }
  bool ProcessIdToSessionId(std::uint32_t processId, std::uint32_t& sessionId) override;
  std::wstring QueryFullProcessImageNameW(KernelHandle process) override;
  std::optional<std::uint32_t> GetProcessIntegrityLevel(KernelHandle process) override;
  bool IsCurrentProcessElevated() override { return elevated; }

  std::uint64_t VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeBitMask,
                                    std::uint8_t condition) override;
  bool VerifyVersionInfoW(OsVersionInfoEx& versionInfo, std::uint32_t typeMask, std::uint64_t conditionMask) override;

  Win32Status RegOpenKeyExA(RegistryKey root, std::string_view subKey, std::uint32_t options, std::uint32_t access,
                            RegistryKey& result) override;
  Win32Status RegQueryValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t& type, std::uint8_t* data,
                               std::uint32_t& size) override;
  Win32Status RegSetValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t type, const std::uint8_t* data,
                             std::uint32_t size) override;
  Win32Status RegCloseKey(RegistryKey key) override;

  ServiceHandle OpenSCManagerA(std::uint32_t access) override;
  ServiceHandle OpenServiceA(ServiceHandle manager, std::string_view serviceName, std::uint32_t access) override;
  bool ControlService(ServiceHandle service, std::uint32_t control) override;
  bool CloseServiceHandle(ServiceHandle handle) override;

  bool OpenProcessToken(KernelHandle process, std::uint32_t access, KernelHandle& token) override;
  bool LookupPrivilegeValueA(std::string_view privilegeName, Luid& luid) override;
  bool AdjustTokenPrivileges(KernelHandle token, bool disableAllPrivileges, const TokenPrivilege& newState) override;
  bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) override;
  bool RegisterApplicationRestart(std::wstring_view arguments, std::uint32_t flags) override {
    restart_ = RestartRegistration{std::wstring(arguments), flags};
    return true;
  }

  void OutputDebugStringA(std::string_view text) override { traceLines_.emplace_back(text); }

  std::intptr_t ShellExecuteW(std::wstring_view operation, std::wstring_view file, int showCommand) override;

 private:
  friend class SimDesktop;

  std::vector<std::string> traceLines_;

  // A dialog this process has open; its owner window may be destroyed while it is open.
  struct OpenDialog {
    WindowHandle owner;
    bool ownerDestroyed;
  };

  std::uintptr_t AddHandle(HandleEntry entry);
  const HandleEntry* FindHandle(std::uintptr_t value, HandleKind kind) const;
  // The view of HKEY_LOCAL_MACHINE that a key opened with `access` shows.
  SimRegistry& RegistryView(std::uint32_t access);
  bool RemoveHandle(std::uintptr_t value, HandleKind kind);
  void ReleaseAllHandles(bool countAsLeft);
  // The process whose handle this is (the current-process pseudo handle included) when it was opened
  // with `access`; null otherwise.
  SimProcess* ProcessOf(KernelHandle handle, std::uint32_t access);
  bool Fail(Win32Status error) {
    lastError_ = error;
    return false;
  }

  SimDesktop& desktop_;
  std::uint32_t id_;
  std::wstring commandLine_;
  AnsiString modulePath_;
  std::string currentDirectory_ = "C:\\Users\\user";
  std::vector<std::string> directoryChanges_;
  Win32Status lastError_ = 0;

  std::map<std::uintptr_t, HandleEntry> handles_;
  std::map<HandleKind, int> leftAtExit_;
  int invalidCloses_ = 0;
  std::vector<HandleKind> closes_;
  std::vector<SleepRecord> sleeps_;
  std::optional<RestartRegistration> restart_;

  std::vector<QueuedMessage> queue_;
  // One entry per message being handled, innermost last: true while its sender waits for the answer.
  std::vector<bool> sendersWaiting_;
  std::vector<OpenDialog> openDialogs_;
  // How many handlers of this process are on the stack, and at which depths a modal loop runs.
  int depth_ = 0;
  std::vector<int> modalDepths_;

  WindowHandle agentWindow_{};
  bool quitRequested_ = false;
  bool terminated_ = false;
  bool ended_ = false;
  Ms endedAt_ = 0;

  // The objects RunAgent keeps on its stack, in the order it creates them.
  std::unique_ptr<AgentState> state_;
  std::unique_ptr<velmor::AgentWindow> window_;
};

}  // namespace velmor::sim
