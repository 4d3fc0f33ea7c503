#include "platform/win32/Win32PassThroughs.h"

#include <windows.h>
// windows.h first: this needs its types.
#include <winsvc.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/HandleConversions.h"
#include "platform/win32/Win32Handles.h"

namespace velmor::win32impl {
namespace {

UniqueWin32Handle OpenTokenForQuery(HANDLE process) {
  UniqueWin32Handle token;
  if (::OpenProcessToken(process, TOKEN_QUERY, &token.put()) == FALSE) {
    token.reset();
  }
  return token;
}

}  // namespace

// --- Windows -------------------------------------------------------------------------------------

void Win32PassThroughs::HideWindow(WindowHandle window) {
  ShowWindow(ToHwnd(window), SW_HIDE);
}

WindowHandle Win32PassThroughs::FindWindowA(std::string_view className, std::string_view caption) {
  const std::string classCopy(className);
  const std::string captionCopy(caption);
  return FromHwnd(::FindWindowA(classCopy.c_str(), captionCopy.c_str()));
}

WindowHandle Win32PassThroughs::FindWindowExA(WindowHandle after, std::string_view className,
                                              std::string_view caption) {
  const std::string classCopy(className);
  const std::string captionCopy(caption);
  return FromHwnd(::FindWindowExA(nullptr, ToHwnd(after), classCopy.c_str(), captionCopy.c_str()));
}

bool Win32PassThroughs::IsWindow(WindowHandle window) {
  return ::IsWindow(ToHwnd(window)) != FALSE;
}

bool Win32PassThroughs::IsWindowVisible(WindowHandle window) {
  return ::IsWindowVisible(ToHwnd(window)) != FALSE;
}

bool Win32PassThroughs::PostMessageA(WindowHandle window, std::uint32_t message, MessageWParam wParam,
                                     MessageLParam lParam) {
  return ::PostMessageA(ToHwnd(window), message, wParam, lParam) != FALSE;
}

bool Win32PassThroughs::SendMessageTimeoutA(WindowHandle window, std::uint32_t message, MessageWParam wParam,
                                            MessageLParam lParam, std::uint32_t flags, std::uint32_t timeoutMs,
                                            MessageResult& result) {
  DWORD_PTR answer = 0;
  const LRESULT sent = ::SendMessageTimeoutA(ToHwnd(window), message, wParam, lParam, flags, timeoutMs, &answer);
  result = static_cast<MessageResult>(answer);
  return sent != 0;
}

namespace {
// The switch's own thread: it only makes the call, and ends when the window's thread has answered.
template <BOOL kAltTab>
DWORD WINAPI SwitchOnAThreadOfItsOwn(LPVOID window) noexcept {
  ::SwitchToThisWindow(static_cast<HWND>(window), kAltTab);
  return 0;
}
}  // namespace

// The switch waits on the window's thread without a bound, and a product may stop answering right
// after it answered the agent's probe. The agent's one thread waits on a thread of the switch's own,
// so long and no longer; a switch that has not finished by then finishes when the product answers
// again, or goes with the process.
bool Win32PassThroughs::SwitchToThisWindow(WindowHandle window, bool altTab, std::uint32_t timeoutMs) {
  constexpr SIZE_T kSwitchThreadStack = 64 * 1024;
  const UniqueWin32Handle thread(::CreateThread(
      nullptr, kSwitchThreadStack, altTab ? &SwitchOnAThreadOfItsOwn<TRUE> : &SwitchOnAThreadOfItsOwn<FALSE>,
      ToHwnd(window), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  if (!thread) {
    return false;  // no switch without its bound
  }
  if (::WaitForSingleObject(thread.get(), timeoutMs) != WAIT_OBJECT_0) {
    ::SetLastError(ERROR_TIMEOUT);
    return false;
  }
  return true;
}

bool Win32PassThroughs::AllowSetForegroundWindow(std::uint32_t processId) {
  return ::AllowSetForegroundWindow(processId) != FALSE;
}

std::uint32_t Win32PassThroughs::GetWindowThreadProcessId(WindowHandle window) {
  DWORD processId = 0;
  ::GetWindowThreadProcessId(ToHwnd(window), &processId);
  return processId;
}

bool Win32PassThroughs::ReplyMessage(MessageResult result) {
  return ::ReplyMessage(result) != FALSE;
}

bool Win32PassThroughs::IsWindowStationInteractive() {
  // The process's window station handle is not to be closed. When its flags cannot be read, the
  // station counts as interactive: the dialog is shown as it always was.
  USEROBJECTFLAGS flags{};
  const HWINSTA station = ::GetProcessWindowStation();
  if (station == nullptr || ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr) == FALSE) {
    return true;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// --- Kernel objects and the process --------------------------------------------------------------

KernelHandle Win32PassThroughs::CreateFileMappingA(std::uint32_t protect, std::uint32_t maxSizeHigh,
                                                   std::uint32_t maxSizeLow, std::string_view name) {
  const std::string copy(name);
  return FromHandle(
      ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, protect, maxSizeHigh, maxSizeLow, copy.c_str()));
}

KernelHandle Win32PassThroughs::OpenFileMappingA(std::uint32_t access, bool inheritHandle, std::string_view name) {
  const std::string copy(name);
  return FromHandle(::OpenFileMappingA(access, inheritHandle ? TRUE : FALSE, copy.c_str()));
}

KernelHandle Win32PassThroughs::CreateMutexA(std::string_view name) {
  const std::string copy(name);
  return FromHandle(::CreateMutexA(nullptr, FALSE, copy.c_str()));
}

bool Win32PassThroughs::ReleaseMutex(KernelHandle mutex) {
  return ::ReleaseMutex(ToHandle(mutex)) != FALSE;
}

bool Win32PassThroughs::CloseHandle(KernelHandle handle) {
  return ::CloseHandle(ToHandle(handle)) != FALSE;
}

Win32Status Win32PassThroughs::GetLastError() {
  return ::GetLastError();
}

void Win32PassThroughs::SetLastError(Win32Status error) {
  ::SetLastError(error);
}

void Win32PassThroughs::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

bool Win32PassThroughs::SetCurrentDirectoryW(std::wstring_view path) {
  const std::wstring copy(path);
  return ::SetCurrentDirectoryW(copy.c_str()) != FALSE;
}

std::wstring Win32PassThroughs::GetModuleFileNameW() {
  // A long path does not fit MAX_PATH: grow the buffer until the whole path fits.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= win32::kLongestPathUnits) {
      return {};  // truncated even at the longest path Windows allows
    }
    path.resize(path.size() * 2);
  }
}

std::wstring Win32PassThroughs::GetCommandLineW() {
  const wchar_t* commandLine = ::GetCommandLineW();
  return commandLine != nullptr ? std::wstring(commandLine) : std::wstring();
}

KernelHandle Win32PassThroughs::GetCurrentProcess() {
  return FromHandle(::GetCurrentProcess());
}

KernelHandle Win32PassThroughs::OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) {
  return FromHandle(::OpenProcess(access, inheritHandle ? TRUE : FALSE, processId));
}

bool Win32PassThroughs::TerminateProcess(KernelHandle process, std::uint32_t exitCode) {
  return ::TerminateProcess(ToHandle(process), exitCode) != FALSE;
}

std::uint32_t Win32PassThroughs::WaitForSingleObject(KernelHandle handle, std::uint32_t timeoutMs) {
  return ::WaitForSingleObject(ToHandle(handle), timeoutMs);
}

std::uint32_t Win32PassThroughs::GetCurrentProcessId() {
  return ::GetCurrentProcessId();
}

bool Win32PassThroughs::ProcessIdToSessionId(std::uint32_t processId, std::uint32_t& sessionId) {
  DWORD session = 0;
  const BOOL found = ::ProcessIdToSessionId(processId, &session);
  sessionId = session;
  return found != FALSE;
}

std::wstring Win32PassThroughs::QueryFullProcessImageNameW(KernelHandle process) {
  std::wstring path(win32::kLongestPathUnits, L'\0');
  auto length = static_cast<DWORD>(path.size());
  if (::QueryFullProcessImageNameW(ToHandle(process), 0, path.data(), &length) == FALSE) {
    return {};
  }
  path.resize(length);
  return path;
}

std::optional<std::uint32_t> Win32PassThroughs::GetProcessIntegrityLevel(KernelHandle process) {
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

bool Win32PassThroughs::IsCurrentProcessElevated() {
  const UniqueWin32Handle token = OpenTokenForQuery(::GetCurrentProcess());
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  return token && ::GetTokenInformation(token.get(), TokenElevationType, &type, sizeof(type), &size) != FALSE &&
         type == TokenElevationTypeFull;
}

// --- Version test --------------------------------------------------------------------------------

std::uint64_t Win32PassThroughs::VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeBitMask,
                                                     std::uint8_t condition) {
  return ::VerSetConditionMask(conditionMask, typeBitMask, condition);
}

bool Win32PassThroughs::VerifyVersionInfoW(OsVersionInfoEx& versionInfo, std::uint32_t typeMask,
                                           std::uint64_t conditionMask) {
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

// --- Registry ------------------------------------------------------------------------------------

Win32Status Win32PassThroughs::RegOpenKeyExA(RegistryKey root, std::string_view subKey, std::uint32_t options,
                                             std::uint32_t access, RegistryKey& result) {
  const std::string copy(subKey);
  HKEY key = nullptr;
  const LSTATUS status = ::RegOpenKeyExA(ToHkey(root), copy.c_str(), options, access, &key);
  result = status == ERROR_SUCCESS ? FromHkey(key) : RegistryKey{};
  return static_cast<Win32Status>(status);
}

Win32Status Win32PassThroughs::RegQueryValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t& type,
                                                std::uint8_t* data, std::uint32_t& size) {
  const std::wstring copy(valueName);
  DWORD valueType = 0;
  DWORD dataSize = size;
  const LSTATUS status = ::RegQueryValueExW(ToHkey(key), copy.c_str(), nullptr, &valueType, data, &dataSize);
  type = valueType;
  size = dataSize;
  return static_cast<Win32Status>(status);
}

Win32Status Win32PassThroughs::RegSetValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t type,
                                              const std::uint8_t* data, std::uint32_t size) {
  const std::wstring copy(valueName);
  return static_cast<Win32Status>(::RegSetValueExW(ToHkey(key), copy.c_str(), 0, type, data, size));
}

Win32Status Win32PassThroughs::RegCloseKey(RegistryKey key) {
  return static_cast<Win32Status>(::RegCloseKey(ToHkey(key)));
}

// --- Service Control Manager ---------------------------------------------------------------------

ServiceHandle Win32PassThroughs::OpenSCManagerA(std::uint32_t access) {
  return FromScHandle(::OpenSCManagerA(nullptr, nullptr, access));
}

ServiceHandle Win32PassThroughs::OpenServiceA(ServiceHandle manager, std::string_view serviceName,
                                              std::uint32_t access) {
  const std::string copy(serviceName);
  return FromScHandle(::OpenServiceA(ToScHandle(manager), copy.c_str(), access));
}

bool Win32PassThroughs::ControlService(ServiceHandle service, std::uint32_t control) {
  SERVICE_STATUS status{};  // filled in by the call, never looked at
  return ::ControlService(ToScHandle(service), control, &status) != FALSE;
}

bool Win32PassThroughs::CloseServiceHandle(ServiceHandle handle) {
  return ::CloseServiceHandle(ToScHandle(handle)) != FALSE;
}

// --- Privileges and shutdown ---------------------------------------------------------------------

bool Win32PassThroughs::OpenProcessToken(KernelHandle process, std::uint32_t access, KernelHandle& token) {
  HANDLE opened = nullptr;
  const BOOL ok = ::OpenProcessToken(ToHandle(process), access, &opened);
  token = ok != FALSE ? FromHandle(opened) : KernelHandle{};
  return ok != FALSE;
}

bool Win32PassThroughs::LookupPrivilegeValueA(std::string_view privilegeName, Luid& luid) {
  const std::string copy(privilegeName);
  LUID found{};
  const BOOL ok = ::LookupPrivilegeValueA(nullptr, copy.c_str(), &found);
  luid.LowPart = found.LowPart;
  luid.HighPart = found.HighPart;
  return ok != FALSE;
}

bool Win32PassThroughs::AdjustTokenPrivileges(KernelHandle token, bool disableAllPrivileges,
                                              const TokenPrivilege& newState) {
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = newState.PrivilegeCount;
  privileges.Privileges[0].Luid.LowPart = newState.PrivilegeLuid.LowPart;
  privileges.Privileges[0].Luid.HighPart = newState.PrivilegeLuid.HighPart;
  privileges.Privileges[0].Attributes = newState.Attributes;
  return ::AdjustTokenPrivileges(ToHandle(token), disableAllPrivileges ? TRUE : FALSE, &privileges, 0, nullptr,
                                 nullptr) != FALSE;
}

bool Win32PassThroughs::ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) {
  return ::ExitWindowsEx(flags, reason) != FALSE;
}

bool Win32PassThroughs::RegisterApplicationRestart(std::wstring_view arguments, std::uint32_t flags) {
  const std::wstring copy(arguments);
  return ::RegisterApplicationRestart(copy.c_str(), flags) == S_OK;
}

}  // namespace velmor::win32impl
