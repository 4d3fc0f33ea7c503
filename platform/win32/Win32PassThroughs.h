// The calls of the seam that hold no state of the platform's: each is the Windows call of the same
// name, with the seam's portable types converted at the boundary. The platform (Win32Platform.cpp)
// adds the agent window, the dialogs, the trace and the shell.
//
// The logic reads GetLastError right after a call, so no method calls anything between the real
// call and its return that could change the thread's last error: strings are copied before the call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/AgentPlatform.h"

namespace velmor::win32impl {

class Win32PassThroughs : public AgentPlatform {
 public:
  // --- Windows ---------------------------------------------------------------------------------
  void HideWindow(WindowHandle window) override;
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
  bool IsWindowStationInteractive() override;

  // --- Kernel objects and the process ----------------------------------------------------------
  KernelHandle CreateFileMappingA(std::uint32_t protect, std::uint32_t maxSizeHigh, std::uint32_t maxSizeLow,
                                  std::string_view name) override;
  KernelHandle OpenFileMappingA(std::uint32_t access, bool inheritHandle, std::string_view name) override;
  KernelHandle CreateMutexA(std::string_view name) override;
  bool ReleaseMutex(KernelHandle mutex) override;
  bool CloseHandle(KernelHandle handle) override;
  Win32Status GetLastError() override;
  void SetLastError(Win32Status error) override;
  void Sleep(std::uint32_t milliseconds) override;
  bool SetCurrentDirectoryW(std::wstring_view path) override;
  std::wstring GetModuleFileNameW() override;
  std::wstring GetCommandLineW() override;
  KernelHandle GetCurrentProcess() override;
  KernelHandle OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) override;
  bool TerminateProcess(KernelHandle process, std::uint32_t exitCode) override;
  std::uint32_t WaitForSingleObject(KernelHandle handle, std::uint32_t timeoutMs) override;
  std::uint32_t GetCurrentProcessId() override;
  bool ProcessIdToSessionId(std::uint32_t processId, std::uint32_t& sessionId) override;
  std::wstring QueryFullProcessImageNameW(KernelHandle process) override;
  std::optional<std::uint32_t> GetProcessIntegrityLevel(KernelHandle process) override;
  bool IsCurrentProcessElevated() override;

  // --- Version test ----------------------------------------------------------------------------
  std::uint64_t VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeBitMask,
                                    std::uint8_t condition) override;
  bool VerifyVersionInfoW(OsVersionInfoEx& versionInfo, std::uint32_t typeMask, std::uint64_t conditionMask) override;

  // --- Registry --------------------------------------------------------------------------------
  Win32Status RegOpenKeyExA(RegistryKey root, std::string_view subKey, std::uint32_t options, std::uint32_t access,
                            RegistryKey& result) override;
  Win32Status RegQueryValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t& type, std::uint8_t* data,
                               std::uint32_t& size) override;
  Win32Status RegSetValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t type, const std::uint8_t* data,
                             std::uint32_t size) override;
  Win32Status RegCloseKey(RegistryKey key) override;

  // --- Service Control Manager -----------------------------------------------------------------
  ServiceHandle OpenSCManagerA(std::uint32_t access) override;
  ServiceHandle OpenServiceA(ServiceHandle manager, std::string_view serviceName, std::uint32_t access) override;
  bool ControlService(ServiceHandle service, std::uint32_t control) override;
  bool CloseServiceHandle(ServiceHandle handle) override;

  // --- Privileges and shutdown -----------------------------------------------------------------
  bool OpenProcessToken(KernelHandle process, std::uint32_t access, KernelHandle& token) override;
  bool LookupPrivilegeValueA(std::string_view privilegeName, Luid& luid) override;
  bool AdjustTokenPrivileges(KernelHandle token, bool disableAllPrivileges, const TokenPrivilege& newState) override;
  bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) override;
  bool RegisterApplicationRestart(std::wstring_view arguments, std::uint32_t flags) override;
};

}  // namespace velmor::win32impl
