#include "tests/host/sim/SimProcess.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <utility>

#include "app/AgentWindow.h"
#include "tests/host/sim/SimDesktop.h"

namespace velmor::sim {
namespace {

constexpr std::uintptr_t kCurrentProcessPseudoHandle = std::numeric_limits<std::uintptr_t>::max();  // (HANDLE)-1
constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
constexpr Win32Status kErrorPathNotFound = 3;
constexpr Win32Status kErrorNotOwner = 288;
constexpr Win32Status kErrorNoSuchPrivilege = 1313;
constexpr Win32Status kErrorPrivilegeNotHeld = 1314;
constexpr std::intptr_t kShellExecuteSuccess = 42;

template <typename Handle>
std::uintptr_t Raw(Handle handle) {
  return static_cast<std::uintptr_t>(handle);
}

}  // namespace

SimProcess::SimProcess(SimDesktop& desktop, std::uint32_t id, std::wstring commandLine, AnsiString modulePath)
    : desktop_(desktop), id_(id), commandLine_(std::move(commandLine)), modulePath_(std::move(modulePath)) {}

SimProcess::~SimProcess() = default;

Ms SimProcess::TotalSlept() const {
  return std::accumulate(sleeps_.begin(), sleeps_.end(), Ms{0},
                         [](Ms sum, const SleepRecord& sleep) { return sum + sleep.milliseconds; });
}

int SimProcess::OpenHandles(HandleKind kind) const {
  return static_cast<int>(
      std::count_if(handles_.begin(), handles_.end(), [kind](const auto& entry) { return entry.second.kind == kind; }));
}

int SimProcess::HandlesLeftAtExit(HandleKind kind) const {
  const auto found = leftAtExit_.find(kind);
  return found == leftAtExit_.end() ? 0 : found->second;
}

bool SimProcess::HoldsMapping(std::string_view name) const {
  return std::any_of(handles_.begin(), handles_.end(), [name](const auto& entry) {
    return entry.second.kind == HandleKind::Mapping && entry.second.name == name;
  });
}

std::uintptr_t SimProcess::AddHandle(HandleEntry entry) {
  const std::uintptr_t value = desktop_.NewHandleValue();
  if (entry.kind == HandleKind::Mapping) {
    desktop_.AddMappingHandle(entry.name);
  }
  if (entry.kind == HandleKind::Mutex) {
    ++desktop_.mutexes_[entry.name].handles;
  }
  handles_.emplace(value, std::move(entry));
  return value;
}

const HandleEntry* SimProcess::FindHandle(std::uintptr_t value, HandleKind kind) const {
  const auto found = handles_.find(value);
  return found == handles_.end() || found->second.kind != kind ? nullptr : &found->second;
}

bool SimProcess::RemoveHandle(std::uintptr_t value, HandleKind kind) {
  const auto found = handles_.find(value);
  if (found == handles_.end() || found->second.kind != kind) {
    return false;
  }
  const HandleEntry entry = std::move(found->second);
  handles_.erase(found);
  closes_.push_back(entry.kind);
  if (entry.kind == HandleKind::Mapping) {
    desktop_.ReleaseMappingHandle(entry.name);
  }
  if (entry.kind == HandleKind::Mutex) {
    desktop_.ReleaseMutexHandle(entry.name);
  }
  return true;
}

void SimProcess::ReleaseAllHandles(bool countAsLeft) {
  while (!handles_.empty()) {
    const auto [value, entry] = *handles_.begin();
    if (countAsLeft) {
      ++leftAtExit_[entry.kind];
    }
    RemoveHandle(value, entry.kind);
  }
}

// --- The agent window and its timers -------------------------------------------------------------

WindowHandle SimProcess::CreateAgentWindow(std::string_view className, std::string_view caption,
                                           AgentWindowEvents& events) {
  if (desktop_.failWindowCreation) {
    return kNoWindow;
  }
  const WindowHandle handle = desktop_.NewWindow(std::string(className), std::string(caption), id_);
  desktop_.Window(handle)->events = &events;
  if (agentWindow_ == kNoWindow) {
    agentWindow_ = handle;
  }
  return handle;
}

void SimProcess::DestroyAgentWindow(WindowHandle window) {
  if (terminated_) {
    return;
  }
  SimWindow* found = desktop_.Window(window);
  if (found == nullptr || !found->alive || found->processId != id_) {
    desktop_.Fault("DestroyAgentWindow on a window that is not the process's own live window");
    return;
  }
  desktop_.OnWindowDestroyed(*found);
}

bool SimProcess::SetWindowTextA(WindowHandle window, std::string_view caption) {
  SimWindow* found = desktop_.Window(window);
  if (terminated_ || found == nullptr || !found->alive) {
    return Fail(kErrorInvalidWindowHandle);
  }
  found->caption = std::string(caption);
  return true;
}

void SimProcess::HideWindow(WindowHandle window) {
  if (SimWindow* found = desktop_.Window(window); found != nullptr && found->alive) {
    found->visible = false;
  }
}

bool SimProcess::SetTimer(WindowHandle window, TimerId timer, std::uint32_t intervalMs) {
  SimWindow* found = desktop_.Window(window);
  if (terminated_ || found == nullptr || !found->alive || found->processId != id_) {
    return Fail(kErrorInvalidWindowHandle);
  }
  if (desktop_.refusedTimer != 0 && timer == desktop_.refusedTimer) {
    return Fail(kErrorNotEnoughMemory);
  }
  // Setting a running timer again restarts it and drops its pending tick.
  const Ms interval = std::max<Ms>(intervalMs, kUserTimerMinimum);
  found->timers[timer] = SimTimer{intervalMs, interval, desktop_.Now() + interval, false, 0};
  return true;
}

bool SimProcess::KillTimer(WindowHandle window, TimerId timer) {
  SimWindow* found = desktop_.Window(window);
  if (terminated_ || found == nullptr || !found->alive || found->timers.erase(timer) == 0) {
    return Fail(kErrorInvalidWindowHandle);
  }
  return true;
}

int SimProcess::RunMessageLoop() {
  desktop_.Fault("RunMessageLoop called: the simulated desktop runs the loop itself");
  return 0;
}

void SimProcess::TerminateApplication() {
  quitRequested_ = true;
}

// --- Other windows -------------------------------------------------------------------------------

WindowHandle SimProcess::FindWindowA(std::string_view className, std::string_view caption) {
  const WindowHandle found = desktop_.FindWindow(className, caption);
  if (found == kNoWindow) {
    lastError_ = kErrorFileNotFound;
  }
  return found;
}

WindowHandle SimProcess::FindWindowExA(WindowHandle after, std::string_view className, std::string_view caption) {
  const WindowHandle found = desktop_.FindWindow(className, caption, after);
  if (found == kNoWindow) {
    lastError_ = kErrorFileNotFound;
  }
  return found;
}

bool SimProcess::IsWindow(WindowHandle window) {
  const SimWindow* found = desktop_.Window(window);
  return found != nullptr && found->alive;
}

bool SimProcess::IsWindowVisible(WindowHandle window) {
  return desktop_.Visible(window);
}

bool SimProcess::PostMessageA(WindowHandle window, std::uint32_t message, MessageWParam wParam, MessageLParam lParam) {
  if (!desktop_.PostFrom(id_, window, message, wParam, lParam)) {
    return Fail(kErrorInvalidWindowHandle);
  }
  return true;
}

MessageResult SimProcess::SendMessageA(WindowHandle window, std::uint32_t message, MessageWParam wParam,
                                       MessageLParam lParam) {
  SimWindow* found = desktop_.Window(window);
  if (found == nullptr || !found->alive) {
    lastError_ = kErrorInvalidWindowHandle;
    return 0;
  }
  if (found->hung) {
    desktop_.Fault("SendMessageA to a hung window: the sender would wait forever");
    return 0;
  }
  if (found->product != nullptr) {
    found->product->OnMessage(message, wParam, lParam);
    return 0;
  }
  SimProcess* owner = desktop_.Process(found->processId);
  if (owner == nullptr) {
    return 0;
  }
  // The sender waits in the call: it handles nothing else meanwhile.
  desktop_.EnterHandler(*this);
  const MessageResult result = desktop_.Dispatch(*owner, *found, message, wParam, lParam, /*sent=*/true);
  desktop_.LeaveHandler(*this);
  return result;
}

bool SimProcess::SendMessageTimeoutA(WindowHandle window, std::uint32_t message, MessageWParam wParam,
                                     MessageLParam lParam, std::uint32_t /*flags*/, std::uint32_t timeoutMs,
                                     MessageResult& result) {
  SimWindow* found = desktop_.Window(window);
  if (found == nullptr || !found->alive) {
    return Fail(kErrorInvalidWindowHandle);
  }
  if (found->hung) {
    desktop_.MoveClockTo(desktop_.Now() + timeoutMs);
    return Fail(kErrorTimeout);
  }
  result = SendMessageA(window, message, wParam, lParam);
  return true;
}

bool SimProcess::SwitchToThisWindow(WindowHandle window, bool altTab, std::uint32_t timeoutMs) {
  // The switch waits on the window's thread: a hung one answers never, a product that blocks in the
  // switch answers once it is done.
  SimWindow* found = desktop_.Window(window);
  std::optional<Ms> busy;
  if (found != nullptr && found->product != nullptr && found->product->blockInSwitchMs) {
    busy = std::exchange(found->product->blockInSwitchMs, std::nullopt);
    desktop_.SetHung(window, true);
    desktop_.At(desktop_.Now() + *busy, [&desktop = desktop_, window] { desktop.SetHung(window, false); });
  } else if (found != nullptr && found->hung) {
    busy = std::numeric_limits<Ms>::max();
  }
  const bool finished = !busy || *busy <= timeoutMs;
  desktop_.switches.push_back({id_, window, altTab, desktop_.Now(), timeoutMs, finished});
  desktop_.MoveClockTo(desktop_.Now() + (finished ? busy.value_or(0) : timeoutMs));
  return finished || Fail(kErrorTimeout);
}

bool SimProcess::AllowSetForegroundWindow(std::uint32_t processId) {
  desktop_.foregroundGrants.push_back({id_, processId, desktop_.posts.size(), desktop_.Now()});
  return true;
}

std::uint32_t SimProcess::GetWindowThreadProcessId(WindowHandle window) {
  const SimWindow* found = desktop_.Window(window);
  return found != nullptr && found->alive ? found->processId : 0;
}

bool SimProcess::ReplyMessage(MessageResult /*result*/) {
  if (sendersWaiting_.empty() || !sendersWaiting_.back()) {
    return false;
  }
  sendersWaiting_.back() = false;
  return true;
}

// --- Dialogs -------------------------------------------------------------------------------------

DialogResult SimProcess::ShowMessageDialog(DialogKind kind, std::wstring_view text, bool topmost) {
  const std::size_t record = desktop_.dialogs.shown.size();
  desktop_.dialogs.shown.push_back({id_, kind, std::wstring(text), topmost, desktop_.Now()});
  if (!interactiveWindowStation) {
    desktop_.Fault("a dialog in a non-interactive window station: nobody can answer it, it waits for ever");
  }
  DialogAnswer answer = desktop_.dialogs.Next(kind);

  const bool hasOwner = agentWindow_ != kNoWindow && IsWindow(agentWindow_);
  openDialogs_.push_back({hasOwner ? agentWindow_ : kNoWindow, false});
  const std::size_t dialog = openDialogs_.size() - 1;
  // The dialog's modal loop: this process receives messages and ticks again while it is open.
  modalDepths_.push_back(depth_);
  desktop_.RunUntilIdle();
  // The dialog's loop ends, unanswered, on a quit request or with its owner window.
  const auto interrupted = [&] { return quitRequested_ || openDialogs_[dialog].ownerDestroyed; };
  if (answer.whileOpen && !interrupted()) {
    answer.whileOpen();
  }
  modalDepths_.pop_back();
  const bool wasInterrupted = interrupted();
  openDialogs_.pop_back();

  const DialogResult result = wasInterrupted ? DialogResult::Cancelled : answer.result;
  desktop_.dialogs.shown[record].result = result;
  return result;
}

// --- Kernel objects and the process --------------------------------------------------------------

KernelHandle SimProcess::CreateFileMappingA(std::uint32_t protect, std::uint32_t maxSizeHigh, std::uint32_t maxSizeLow,
                                            std::string_view name) {
  const bool existed = desktop_.MappingExists(name);
  desktop_.mappingCreations.push_back({id_, protect, maxSizeHigh, maxSizeLow, std::string(name), existed});
  if (desktop_.failMappingCreation) {
    lastError_ = desktop_.mappingCreationError;
    return kNoHandle;
  }
  if (desktop_.MappingRestricted(name)) {
    lastError_ = win32::kErrorAccessDenied;
    return kNoHandle;
  }
  const std::uintptr_t value = AddHandle({HandleKind::Mapping, std::string(name), 0, 0});
  lastError_ = existed ? win32::kErrorAlreadyExists : win32::kErrorSuccess;
  return KernelHandle{value};
}

KernelHandle SimProcess::OpenFileMappingA(std::uint32_t access, bool /*inheritHandle*/, std::string_view name) {
  if (!desktop_.MappingExists(name)) {
    lastError_ = kErrorFileNotFound;
    return kNoHandle;
  }
  if (desktop_.MappingRestricted(name)) {
    lastError_ = win32::kErrorAccessDenied;
    return kNoHandle;
  }
  return KernelHandle{AddHandle({HandleKind::Mapping, std::string(name), 0, access})};
}

KernelHandle SimProcess::CreateMutexA(std::string_view name) {
  if (desktop_.mappings_.contains(std::string(name))) {
    lastError_ = kErrorInvalidHandle;  // an object of another kind bears the name
    return kNoHandle;
  }
  const bool existed = desktop_.mutexes_.contains(std::string(name));
  const std::uintptr_t value = AddHandle({HandleKind::Mutex, std::string(name), 0, 0});
  lastError_ = existed ? win32::kErrorAlreadyExists : win32::kErrorSuccess;
  return KernelHandle{value};
}

bool SimProcess::ReleaseMutex(KernelHandle mutex) {
  const HandleEntry* entry = FindHandle(Raw(mutex), HandleKind::Mutex);
  if (entry == nullptr) {
    return Fail(kErrorInvalidHandle);
  }
  SimDesktop::Mutex& object = desktop_.mutexes_.at(entry->name);
  if (object.owner != id_) {
    return Fail(kErrorNotOwner);
  }
  object.owner = 0;
  return true;
}

bool SimProcess::CloseHandle(KernelHandle handle) {
  if (terminated_) {
    return false;
  }
  const std::uintptr_t value = Raw(handle);
  if (value == kCurrentProcessPseudoHandle) {
    return true;
  }
  for (const HandleKind kind : {HandleKind::Mapping, HandleKind::Mutex, HandleKind::Process, HandleKind::Token}) {
    if (RemoveHandle(value, kind)) {
      return true;
    }
  }
  ++invalidCloses_;
  return Fail(kErrorInvalidHandle);
}

void SimProcess::Sleep(std::uint32_t milliseconds) {
  sleeps_.push_back({milliseconds, desktop_.Now()});
  desktop_.MoveClockTo(desktop_.Now() + milliseconds);
}

bool SimProcess::SetCurrentDirectoryW(std::wstring_view path) {
  directoryChanges_.push_back(Utf8FromWide(path));
  if (path.empty()) {
    return Fail(kErrorPathNotFound);
  }
  currentDirectory_ = directoryChanges_.back();
  return true;
}

std::wstring SimProcess::GetModuleFileNameW() {
  return WideFromUtf8(modulePath_);
}

KernelHandle SimProcess::GetCurrentProcess() {
  return KernelHandle{kCurrentProcessPseudoHandle};
}

KernelHandle SimProcess::OpenProcess(std::uint32_t access, bool /*inheritHandle*/, std::uint32_t processId) {
  if (desktop_.onOpenProcess) {
    desktop_.onOpenProcess();
  }
  const SimProcess* target = desktop_.Process(processId);
  const bool product = std::any_of(desktop_.Products().begin(), desktop_.Products().end(),
                                   [processId](const auto& p) { return p->ProcessId() == processId; });
  if ((target == nullptr || target->ended_ || target->terminated_) && !product) {
    lastError_ = kErrorInvalidParameter;
    return kNoHandle;
  }
  return KernelHandle{AddHandle({HandleKind::Process, {}, processId, access})};
}

bool SimProcess::TerminateProcess(KernelHandle process, std::uint32_t /*exitCode*/) {
  const HandleEntry* entry = FindHandle(Raw(process), HandleKind::Process);
  if (entry == nullptr) {
    return Fail(kErrorInvalidHandle);
  }
  if ((entry->access & win32::kProcessTerminate) == 0) {
    return Fail(win32::kErrorAccessDenied);
  }
  desktop_.KillProcess(entry->targetProcess);
  return true;
}

std::uint32_t SimProcess::WaitForSingleObject(KernelHandle handle, std::uint32_t timeoutMs) {
  if (const HandleEntry* mutexEntry = FindHandle(Raw(handle), HandleKind::Mutex)) {
    // One thread per process: a mutex is free, owned by this process (recursion), or held by another,
    // which cannot let go while this process waits (no other handler runs meanwhile).
    SimDesktop::Mutex& mutex = desktop_.mutexes_.at(mutexEntry->name);
    if (mutex.owner == 0 || mutex.owner == id_) {
      mutex.owner = id_;
      return std::exchange(mutex.abandoned, false) ? kWaitAbandoned : kWaitObject0;
    }
    if (timeoutMs == kInfinite) {
      desktop_.Fault("WaitForSingleObject without time-out on a mutex another process holds");
      return kWaitFailed;
    }
    desktop_.MoveClockTo(desktop_.Now() + timeoutMs);
    return kWaitTimeout;
  }
  const HandleEntry* entry = FindHandle(Raw(handle), HandleKind::Process);
  if (entry == nullptr) {
    lastError_ = kErrorInvalidHandle;
    return kWaitFailed;
  }
  if ((entry->access & win32::kSynchronize) == 0) {
    lastError_ = win32::kErrorAccessDenied;
    return kWaitFailed;
  }
  const SimProcess* target = desktop_.Process(entry->targetProcess);
  if (target == nullptr || target->ended_ || target->terminated_) {
    return kWaitObject0;
  }
  if (timeoutMs == kInfinite) {
    desktop_.Fault("WaitForSingleObject without time-out on a process that does not end");
    return kWaitFailed;
  }
  desktop_.MoveClockTo(desktop_.Now() + timeoutMs);
  return kWaitTimeout;
}

SimProcess* SimProcess::ProcessOf(KernelHandle handle, std::uint32_t access) {
  if (Raw(handle) == kCurrentProcessPseudoHandle) {
    return this;
  }
  const HandleEntry* entry = FindHandle(Raw(handle), HandleKind::Process);
  if (entry == nullptr || (entry->access & access) != access) {
    lastError_ = entry == nullptr ? kErrorInvalidHandle : win32::kErrorAccessDenied;
    return nullptr;
  }
  return desktop_.Process(entry->targetProcess);
}

bool SimProcess::ProcessIdToSessionId(std::uint32_t processId, std::uint32_t& sessionId) {
  const SimProcess* process = desktop_.Process(processId);
  if (process == nullptr || process->ended_) {
    return Fail(kErrorInvalidParameter);
  }
  sessionId = process->session;
  return true;
}

std::wstring SimProcess::QueryFullProcessImageNameW(KernelHandle process) {
  const SimProcess* target = ProcessOf(process, win32::kProcessQueryLimitedInformation);
  return target == nullptr ? std::wstring() : WideFromUtf8(target->modulePath_);
}

std::optional<std::uint32_t> SimProcess::GetProcessIntegrityLevel(KernelHandle process) {
  const SimProcess* target = ProcessOf(process, win32::kProcessQueryLimitedInformation);
  return target == nullptr ? std::nullopt : std::optional<std::uint32_t>(target->integrityLevel);
}

// --- Version test --------------------------------------------------------------------------------

std::uint64_t SimProcess::VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeBitMask,
                                              std::uint8_t condition) {
  return sim::VerSetConditionMask(conditionMask, typeBitMask, condition);
}

bool SimProcess::VerifyVersionInfoW(OsVersionInfoEx& versionInfo, std::uint32_t typeMask, std::uint64_t conditionMask) {
  Win32Status error = 0;
  const bool passed = VerifyVersion(desktop_.version, versionInfo, typeMask, conditionMask, error);
  desktop_.version.verifications.push_back({id_, versionInfo, typeMask, conditionMask, passed});
  if (!passed) {
    lastError_ = error;
  }
  return passed;
}

// --- Registry ------------------------------------------------------------------------------------

SimRegistry& SimProcess::RegistryView(std::uint32_t access) {
  return (access & win32::kKeyWow64_32Key) != 0 ? desktop_.registry : desktop_.registry64;
}

Win32Status SimProcess::RegOpenKeyExA(RegistryKey root, std::string_view subKey, std::uint32_t /*options*/,
                                      std::uint32_t access, RegistryKey& result) {
  if (root != kHkeyLocalMachine) {
    return kErrorInvalidHandle;
  }
  if (RegistryView(access).FindKey(subKey) == nullptr) {
    return kErrorFileNotFound;
  }
  if ((access & win32::kKeySetValue) != 0 && RegistryView(access).denyWriteAccess) {
    return win32::kErrorAccessDenied;
  }
  if ((access & win32::kKeyQueryValue) != 0 && RegistryView(access).denyReadAccess) {
    return win32::kErrorAccessDenied;
  }
  result = RegistryKey{AddHandle({HandleKind::RegistryKey, std::string(subKey), 0, access})};
  return win32::kErrorSuccess;
}

Win32Status SimProcess::RegQueryValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t& type,
                                         std::uint8_t* data, std::uint32_t& size) {
  const HandleEntry* entry = FindHandle(Raw(key), HandleKind::RegistryKey);
  if (entry == nullptr) {
    return kErrorInvalidHandle;
  }
  if ((entry->access & win32::kKeyQueryValue) == 0) {
    return win32::kErrorAccessDenied;
  }
  if (RegistryView(entry->access).onQuery) {
    RegistryView(entry->access).onQuery();
  }
  const std::optional<RegValue> value = RegistryView(entry->access).Value(entry->name, Utf8FromWide(valueName));
  if (!value) {
    return kErrorFileNotFound;
  }
  const auto dataSize = static_cast<std::uint32_t>(value->bytes.size());
  type = value->type;
  if (data != nullptr && size < dataSize) {
    size = dataSize;
    return win32::kErrorMoreData;
  }
  if (data != nullptr && dataSize > 0) {
    std::memcpy(data, value->bytes.data(), dataSize);
  }
  size = dataSize;
  return win32::kErrorSuccess;
}

Win32Status SimProcess::RegSetValueExW(RegistryKey key, std::wstring_view valueName, std::uint32_t type,
                                       const std::uint8_t* data, std::uint32_t size) {
  const HandleEntry* entry = FindHandle(Raw(key), HandleKind::RegistryKey);
  if (entry == nullptr) {
    return kErrorInvalidHandle;
  }
  if ((entry->access & win32::kKeySetValue) == 0) {
    return win32::kErrorAccessDenied;
  }
  RegValue value;
  value.type = type;
  if (data != nullptr) {
    value.bytes.assign(data, data + size);
  }
  const std::string name = Utf8FromWide(valueName);
  SimRegistry& view = RegistryView(entry->access);
  view.writes.push_back({id_, entry->name, name, value});
  view.SetValue(entry->name, name, std::move(value));
  return win32::kErrorSuccess;
}

Win32Status SimProcess::RegCloseKey(RegistryKey key) {
  if (terminated_ || key == kHkeyLocalMachine) {
    return win32::kErrorSuccess;
  }
  if (!RemoveHandle(Raw(key), HandleKind::RegistryKey)) {
    ++invalidCloses_;
    return kErrorInvalidHandle;
  }
  return win32::kErrorSuccess;
}

// --- Service Control Manager ---------------------------------------------------------------------

ServiceHandle SimProcess::OpenSCManagerA(std::uint32_t access) {
  SimServiceManager& services = desktop_.services;
  services.managerAccessRequested.push_back(access);
  if (services.openManagerError != win32::kErrorSuccess) {
    lastError_ = services.openManagerError;
    return kNoService;
  }
  return ServiceHandle{AddHandle({HandleKind::ServiceManager, {}, 0, access})};
}

ServiceHandle SimProcess::OpenServiceA(ServiceHandle manager, std::string_view serviceName, std::uint32_t access) {
  SimServiceManager& services = desktop_.services;
  services.serviceAccessRequested.push_back(access);
  services.serviceNamesRequested.emplace_back(serviceName);
  if (FindHandle(Raw(manager), HandleKind::ServiceManager) == nullptr) {
    lastError_ = kErrorInvalidHandle;
    return kNoService;
  }
  if (services.openServiceError != win32::kErrorSuccess) {
    lastError_ = services.openServiceError;
    return kNoService;
  }
  if (!services.serviceInstalled || serviceName != services.serviceName) {
    lastError_ = win32::kErrorServiceDoesNotExist;
    return kNoService;
  }
  return ServiceHandle{AddHandle({HandleKind::Service, std::string(serviceName), 0, access})};
}

bool SimProcess::ControlService(ServiceHandle service, std::uint32_t control) {
  if (FindHandle(Raw(service), HandleKind::Service) == nullptr) {
    return Fail(kErrorInvalidHandle);
  }
  SimServiceManager& services = desktop_.services;
  Win32Status answer = services.defaultAnswer;
  if (!services.controlAnswers.empty()) {
    answer = services.controlAnswers.front();
    services.controlAnswers.pop_front();
  }
  services.controls.push_back({id_, control, desktop_.Now(), answer});
  if (answer != win32::kErrorSuccess) {
    return Fail(answer);
  }
  if (services.onAccepted) {
    services.onAccepted();
  }
  return true;
}

bool SimProcess::CloseServiceHandle(ServiceHandle handle) {
  if (terminated_) {
    return false;
  }
  if (RemoveHandle(Raw(handle), HandleKind::Service) || RemoveHandle(Raw(handle), HandleKind::ServiceManager)) {
    return true;
  }
  ++invalidCloses_;
  return Fail(kErrorInvalidHandle);
}

// --- Privileges and shutdown ---------------------------------------------------------------------

bool SimProcess::OpenProcessToken(KernelHandle process, std::uint32_t access, KernelHandle& token) {
  SimPrivileges& privileges = desktop_.privileges;
  privileges.tokenAccessRequested.push_back(access);
  if (Raw(process) != kCurrentProcessPseudoHandle && FindHandle(Raw(process), HandleKind::Process) == nullptr) {
    return Fail(kErrorInvalidHandle);
  }
  if (!privileges.openTokenSucceeds) {
    return Fail(privileges.openTokenError);
  }
  token = KernelHandle{AddHandle({HandleKind::Token, {}, id_, access})};
  return true;
}

bool SimProcess::LookupPrivilegeValueA(std::string_view privilegeName, Luid& luid) {
  desktop_.privileges.privilegeLookups.emplace_back(privilegeName);
  if (privilegeName != "SeShutdownPrivilege") {
    return Fail(kErrorNoSuchPrivilege);
  }
  luid = Luid{kShutdownPrivilegeLuid, 0};
  return true;
}

bool SimProcess::AdjustTokenPrivileges(KernelHandle token, bool disableAllPrivileges, const TokenPrivilege& newState) {
  if (FindHandle(Raw(token), HandleKind::Token) == nullptr) {
    return Fail(kErrorInvalidHandle);
  }
  SimPrivileges& privileges = desktop_.privileges;
  privileges.adjustments.push_back({id_, disableAllPrivileges, newState});
  // It succeeds either way; only the last error tells whether the privilege was assigned.
  lastError_ = privileges.shutdownPrivilegeAssignable ? win32::kErrorSuccess : kErrorNotAllAssigned;
  return true;
}

bool SimProcess::ExitWindowsEx(std::uint32_t flags, std::uint32_t reason) {
  desktop_.privileges.exitWindowsCalls.push_back({id_, flags, reason, desktop_.Now()});
  if (!desktop_.privileges.exitWindowsSucceeds) {
    return Fail(kErrorPrivilegeNotHeld);
  }
  return true;
}

// --- Shell ---------------------------------------------------------------------------------------

std::intptr_t SimProcess::ShellExecuteW(std::wstring_view operation, std::wstring_view file, int showCommand) {
  const bool senderWaiting = !sendersWaiting_.empty() && sendersWaiting_.back();
  desktop_.shellExecutes.push_back(
      {id_, std::wstring(operation), std::wstring(file), showCommand, desktop_.Now(), senderWaiting});
  return kShellExecuteSuccess;
}

}  // namespace velmor::sim
