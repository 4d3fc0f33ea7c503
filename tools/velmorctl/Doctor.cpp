// velmorctl doctor: what support used to gather by hand when the product did not come up at logon
// (the Run key and Windows' own switch of it, the service, the agent's window, the objects bearing
// the agent's names, the compatibility layers), in one command. This part gathers the facts
// (DoctorFacts.h), DoctorJudges.cpp judges them. Every look only looks: no value is written, no object
// is created, owned or released, no service is started and no window is sent anything but WM_NULL.
#include "tools/velmorctl/Doctor.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/CommandLine.h"
#include "app/ProductWindow.h"
#include "app/SingleInstance.h"
#include "integration/Autostart.h"
#include "integration/Environment.h"
#include "peers/AgentContract.h"
#include "peers/ProductPeers.h"
#include "platform/AsciiCase.h"
#include "platform/ScopedHandles.h"
#include "platform/win32/HandleConversions.h"
#include "platform/win32/LibraryFunction.h"
#include "platform/win32/Win32Handles.h"
#include "tools/velmorctl/Console.h"
#include "tools/velmorctl/DoctorFacts.h"
#include "tools/velmorctl/DoctorJudges.h"

namespace velmor::ctl {
namespace {

// How long an agent may take to answer WM_NULL before it counts as busy (DoctorJudges.cpp says so).
constexpr UINT kAnswerTimeoutMs = 2000;

// The contract's names are ASCII.
std::wstring Wide(std::string_view ascii) {
  return {ascii.begin(), ascii.end()};
}

std::wstring FolderOf(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, slash + 1));
}

bool IsAgentFileName(std::wstring_view path) {
  return EqualsIgnoringAsciiCase(path.substr(path.find_last_of(L"\\/") + 1), peers::kAgentExecutableName);
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A registry value's type, size and data, up to `limit` bytes of it.
RegistryValueFacts ReadValue(HKEY root, const std::wstring& subKey, REGSAM view, const std::wstring& name,
                             DWORD limit) {
  RegistryValueFacts value;
  HKEY raw = nullptr;
  value.status = static_cast<Win32Status>(RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | view, &raw));
  if (value.status != ERROR_SUCCESS) {
    return value;
  }
  const UniqueWin32Key key(raw);
  DWORD type = REG_NONE;
  DWORD size = 0;
  value.status = static_cast<Win32Status>(RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size));
  value.type = type;
  value.size = size;
  if (value.status != ERROR_SUCCESS || size > limit) {
    return value;
  }
  value.bytes.resize(size);
  value.status =
      static_cast<Win32Status>(RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, value.bytes.data(), &size));
  value.bytes.resize(value.status == ERROR_SUCCESS ? size : 0);
  return value;
}

// The FileVersion text of an executable's version resource, in its first language; empty without one.
// version.dll is no known DLL: imported, it would be looked for beside velmorctl first, where a DLL
// planted in the product's folder would run; it is loaded from the system folder only.
std::wstring FileVersionOf(const std::wstring& path) {
  using SizeFunction = DWORD(WINAPI*)(const wchar_t*, DWORD*);
  using InfoFunction = BOOL(WINAPI*)(const wchar_t*, DWORD, DWORD, void*);
  using QueryFunction = BOOL(WINAPI*)(const void*, const wchar_t*, void**, UINT*);
  const HMODULE library = LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  const auto infoSize = win32impl::LibraryFunction<SizeFunction>(library, "GetFileVersionInfoSizeW");
  const auto info = win32impl::LibraryFunction<InfoFunction>(library, "GetFileVersionInfoW");
  const auto query = win32impl::LibraryFunction<QueryFunction>(library, "VerQueryValueW");
  std::wstring version;
  DWORD ignored = 0;
  const DWORD size = infoSize == nullptr || info == nullptr || query == nullptr ? 0 : infoSize(path.c_str(), &ignored);
  std::vector<std::uint8_t> block(size);
  void* data = nullptr;
  UINT length = 0;
  if (size != 0 && info(path.c_str(), 0, size, block.data()) != FALSE &&
      query(block.data(), L"\\VarFileInfo\\Translation", &data, &length) != FALSE && length >= 4) {
    const auto* translation = static_cast<const WORD*>(data);
    constexpr std::wstring_view kHex = L"0123456789ABCDEF";
    std::wstring name = L"\\StringFileInfo\\";
    for (const WORD word : {translation[0], translation[1]}) {
      for (int shift = 12; shift >= 0; shift -= 4) {
        name += kHex[(word >> static_cast<unsigned>(shift)) & 0xFU];
      }
    }
    name += L"\\FileVersion";
    if (query(block.data(), name.c_str(), &data, &length) != FALSE && length != 0) {
      version = static_cast<const wchar_t*>(data);
    }
  }
  if (library != nullptr) {
    FreeLibrary(library);
  }
  return version;
}

// Whether a mutex is owned, read without waiting on it (a wait would take a free lock, and so change
// what an agent starting meanwhile finds).
LockState StateOf(HANDLE mutex) {
  struct MutantBasicInformation {
    LONG currentCount;  // 1 when free; 0 or below while owned
    BOOLEAN ownedByCaller;
    BOOLEAN abandonedState;
  };
  using QueryMutant = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto query = win32impl::LibraryFunction<QueryMutant>(ntdll, "NtQueryMutant");
  MutantBasicInformation information{};
  if (query == nullptr || query(mutex, 0, &information, sizeof information, nullptr) < 0) {
    return LockState::Unknown;
  }
  return information.currentCount <= 0 ? LockState::Held : LockState::Free;
}

// The version the system reports to this program, whatever its manifest says.
bool SystemVersion(DWORD& major, DWORD& minor, DWORD& build) {
  using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto getVersion =
      win32impl::LibraryFunction<GetVersionFunction>(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (getVersion == nullptr || getVersion(&info) < 0) {
    return false;
  }
  major = info.dwMajorVersion;
  minor = info.dwMinorVersion;
  build = info.dwBuildNumber;
  return true;
}

// --- The facts, one part of the desktop at a time ---------------------------------------------

// The folder of the installed agent: the package's remembered one, else velmorctl's own, when it
// holds velmor.exe.
std::wstring AgentFolder(AgentPlatform& os) {
  constexpr DWORD kFolderChars = MAX_PATH * 4;
  std::vector<wchar_t> folder(kFolderChars);
  DWORD size = static_cast<DWORD>(sizeof(wchar_t)) * kFolderChars;
  std::wstring remembered;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tessaly\\Agent", L"InstallFolder",
                   RRF_RT_REG_SZ | RRF_SUBKEY_WOW6432KEY, nullptr, folder.data(), &size) == ERROR_SUCCESS) {
    remembered = folder.data();
    if (!remembered.empty() && remembered.back() != L'\\') {
      remembered += L'\\';
    }
  }
  const std::wstring agent = Wide(peers::kAgentExecutableName);
  const std::array<std::wstring, 2> candidates = {remembered, FolderOf(os.GetModuleFileNameW())};
  const auto* const found = std::find_if(candidates.begin(), candidates.end(), [&agent](const std::wstring& candidate) {
    return !candidate.empty() && FileExists(candidate + agent);
  });
  return found != candidates.end() ? *found : std::wstring();
}

// Windows expands a REG_EXPAND_SZ value of the Run key before it runs it.
std::wstring Expanded(const std::wstring& text) {
  const DWORD length = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (length == 0) {
    return text;
  }
  std::wstring expanded(length, L'\0');
  expanded.resize(ExpandEnvironmentStringsW(text.c_str(), expanded.data(), length) - 1U);
  return expanded;
}

void GatherAutostart(AgentPlatform& os, DoctorFacts& facts) {
  RegistryValueFacts& value = facts.autostart;
  value.status = ReadAutostartValue(os, value.text, value.type);  // as the agent reads it
  const std::wstring runKey = Wide(peers::kRunKeyPath);
  const std::wstring name(peers::kAutostartValueName);
  value.size = ReadValue(HKEY_LOCAL_MACHINE, runKey, KEY_WOW64_32KEY, name, 0).size;
  facts.autostartIn64BitView = ReadValue(HKEY_LOCAL_MACHINE, runKey, KEY_WOW64_64KEY, name, 0).status == ERROR_SUCCESS;
  if (value.status != win32::kErrorSuccess) {
    return;
  }
  facts.commandLine = value.type == REG_EXPAND_SZ ? Expanded(value.text) : value.text;
  const std::vector<std::wstring> arguments = SplitCommandLine(facts.commandLine);
  if (!arguments.empty() && !FileExists(arguments.front())) {
    const DWORD attributes = GetFileAttributesW(arguments.front().c_str());
    facts.autostartTargetError = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
  }
  // Task Manager's and Settings' switches live in the 64-bit view, whatever view their entry is of.
  const std::wstring run32 = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run32";
  constexpr DWORD kSwitchLimit = 64;
  facts.startupSwitches.push_back({L"HKCU", ReadValue(HKEY_CURRENT_USER, run32, KEY_WOW64_64KEY, name, kSwitchLimit)});
  facts.startupSwitches.push_back({L"HKLM", ReadValue(HKEY_LOCAL_MACHINE, run32, KEY_WOW64_64KEY, name, kSwitchLimit)});
}

// Whether the process runs elevated as the agent judges its own reach: the elevated half of a split
// token, or LocalSystem's integrity.
std::optional<bool> ElevatedAsTheAgentJudges(AgentPlatform& os, HANDLE process) {
  HANDLE raw = nullptr;
  if (OpenProcessToken(process, TOKEN_QUERY, &raw) == FALSE) {
    return std::nullopt;
  }
  const UniqueWin32Handle token(raw);
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  if (GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size) == FALSE) {
    return std::nullopt;
  }
  const std::optional<std::uint32_t> level = os.GetProcessIntegrityLevel(win32impl::FromHandle(process));
  return type == TokenElevationTypeFull || (level && *level >= win32::kSystemIntegrityLevel);
}

ProcessFacts FactsOfProcess(AgentPlatform& os, std::uint32_t processId) {
  ProcessFacts facts;
  facts.processId = processId;
  const UniqueWin32Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) {
    facts.openError = GetLastError();
    return facts;
  }
  facts.image = os.QueryFullProcessImageNameW(win32impl::FromHandle(process.get()));
  if (!facts.image.empty()) {
    facts.fileVersion = FileVersionOf(facts.image);
  }
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  if (GetProcessTimes(process.get(), &created, &exited, &kernel, &user) != FALSE) {
    const auto ticks = [](const FILETIME& time) {
      return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32U) | time.dwLowDateTime;
    };
    constexpr std::uint64_t kTicksPerMs = 10000;  // FILETIME counts 100 ns
    facts.ageMs = ticks(now) > ticks(created) ? (ticks(now) - ticks(created)) / kTicksPerMs : 0;
  }
  facts.elevated = ElevatedAsTheAgentJudges(os, process.get());
  return facts;
}

// The agents that have not named themselves yet: second agents, waiting for the product's window.
std::vector<ProcessFacts> WaitingAgents(AgentPlatform& os) {
  std::vector<ProcessFacts> waiting;
  std::ranges::transform(
      FindAgentWindows(os, peers::kAgentInitialCaption).agents, std::back_inserter(waiting),
      [&os](WindowHandle window) { return FactsOfProcess(os, os.GetWindowThreadProcessId(window)); });
  return waiting;
}

void GatherAgents(AgentPlatform& os, DoctorFacts& facts) {
  const NamedWindows named = FindAgentWindows(os);
  for (const WindowHandle window : named.agents) {
    facts.agents.push_back(FactsOfProcess(os, os.GetWindowThreadProcessId(window)));
  }
  for (const WindowHandle window : named.others) {
    facts.nameBearers.push_back(FactsOfProcess(os, os.GetWindowThreadProcessId(window)));
  }
  if (!named.agents.empty()) {
    DWORD_PTR result = 0;
    facts.firstAgentAnswers = SendMessageTimeoutW(win32impl::ToHwnd(named.agents.front()), WM_NULL, 0, 0,
                                                  SMTO_ABORTIFHUNG | SMTO_BLOCK, kAnswerTimeoutMs, &result) != 0;
  }
  facts.waitingAgents = WaitingAgents(os);

  const std::string marker(peers::kInstanceMarkerName);
  const UniqueWin32Handle mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, marker.c_str()));
  facts.markerError = mapping ? ERROR_SUCCESS : GetLastError();

  constexpr DWORD kMutantQueryState = 0x0001;
  const std::string lockName(peers::kResidenceLockName);
  const UniqueWin32Handle lock(OpenMutexA(SYNCHRONIZE | kMutantQueryState, FALSE, lockName.c_str()));
  facts.lockError = lock ? ERROR_SUCCESS : GetLastError();
  facts.lockState = lock ? StateOf(lock.get()) : LockState::Unknown;
}

void GatherService(ServiceFacts& facts) {
  // Wine's service manager waits less long than Windows' for a handler; its ntdll says it is Wine's.
  facts.underWine =
      win32impl::LibraryFunction<void (*)()>(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  const std::wstring name = Wide(peers::kProductServiceName);
  const UniqueWin32Service manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    facts.managerError = GetLastError();
    return;
  }
  UniqueWin32Service service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
  if (!service && GetLastError() == ERROR_ACCESS_DENIED) {
    service.reset(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
  }
  if (!service) {
    facts.openError = GetLastError();
    return;
  }
  // Opened as the agent opens it, for its request, to see whether this user may make it.
  const UniqueWin32Service request(OpenServiceW(manager.get(), name.c_str(), win32::kServiceUserDefinedControl));
  facts.requestError = request ? ERROR_SUCCESS : GetLastError();
  SERVICE_STATUS status{};
  if (QueryServiceStatus(service.get(), &status) == FALSE) {
    facts.queryError = GetLastError();
    return;
  }
  facts.state = status.dwCurrentState;
  DWORD needed = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  std::vector<std::uint8_t> config(needed);
  if (needed >= sizeof(QUERY_SERVICE_CONFIGW) &&
      QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data()), needed, &needed) !=
          FALSE) {
    facts.startType = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())->dwStartType;
  }
  DWORD timeout = 0;
  DWORD size = sizeof timeout;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control", L"ServicesPipeTimeout", RRF_RT_REG_DWORD,
                   nullptr, &timeout, &size) == ERROR_SUCCESS) {
    facts.pipeTimeoutMs = timeout;
  }
}

void GatherProductWindow(AgentPlatform& os, ProductWindowFacts& facts) {
  const WindowHandle window = FindProductWindow(os);
  facts.present = window != kNoWindow;
  if (!facts.present) {
    return;
  }
  facts.visible = os.IsWindowVisible(window);
  facts.answers = ProductAnswers(os, window);  // as the agent asks it
  facts.process = FactsOfProcess(os, os.GetWindowThreadProcessId(window));
}

// The layers set on any velmor.exe, in the current user's hive and in both views of the machine's.
void GatherCompatibilityLayers(DoctorFacts& facts) {
  struct Place {
    HKEY root;
    REGSAM view;
    std::wstring_view hive;
  };
  const std::wstring layersKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
  for (const Place& place : {Place{HKEY_CURRENT_USER, 0, L"HKCU"}, Place{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"HKLM"},
                             Place{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"HKLM (32-bit view)"}}) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(place.root, layersKey.c_str(), 0, KEY_QUERY_VALUE | place.view, &raw) != ERROR_SUCCESS) {
      continue;
    }
    const UniqueWin32Key key(raw);
    constexpr DWORD kNameLimit = 32768;
    constexpr DWORD kDataLimit = 4096;
    std::vector<wchar_t> name(kNameLimit);
    std::vector<wchar_t> data(kDataLimit / sizeof(wchar_t) + 1);
    for (DWORD index = 0;; ++index) {
      DWORD nameLength = kNameLimit;
      DWORD type = REG_NONE;
      DWORD size = kDataLimit;
      const LSTATUS status = RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type,
                                           reinterpret_cast<BYTE*>(data.data()), &size);
      if (status == ERROR_NO_MORE_ITEMS) {
        break;
      }
      if (status != ERROR_SUCCESS || type != REG_SZ) {
        continue;
      }
      const std::wstring path(name.data(), nameLength);
      std::wstring layers(data.data(), size / sizeof(wchar_t));
      layers.resize(std::min(layers.size(), layers.find(L'\0')));  // up to its NUL
      if (!IsAgentFileName(path)) {
        continue;
      }
      const bool seen = std::any_of(facts.compatibilityLayers.begin(), facts.compatibilityLayers.end(),
                                    [&](const CompatibilityLayerFacts& other) {
                                      return other.hive.starts_with(L"HKLM") && place.hive != L"HKCU" &&
                                             other.path == path && other.layers == layers;
                                    });
      if (!seen) {
        facts.compatibilityLayers.push_back({std::wstring(place.hive), path, layers});
      }
    }
  }
}

DoctorFacts GatherFacts(AgentPlatform& os) {
  DoctorFacts facts;
  facts.interactive = os.IsWindowStationInteractive();
  facts.velmorctlElevated = os.IsCurrentProcessElevated();
  facts.agentFolder = AgentFolder(os);
  GatherAutostart(os, facts);
  GatherAgents(os, facts);
  GatherService(facts.service);
  GatherProductWindow(os, facts.productWindow);
  facts.otherVersionRunning = IsOtherVersionRunning(os);  // as the agent's install-time start sees it
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
  if (SystemVersion(major, minor, build)) {
    facts.windowsMajor = major;
    facts.windowsMinor = minor;
    facts.windowsBuild = build;
  }
  GatherCompatibilityLayers(facts);
  return facts;
}

}  // namespace

bool RunDoctor(AgentPlatform& os, DoctorOutput output) {
  const std::vector<Finding> findings = JudgeDesktop(GatherFacts(os));
  Say(output == DoctorOutput::Json ? JsonReport(findings) : TextReport(findings));
  return Healthy(findings);
}

}  // namespace velmor::ctl
