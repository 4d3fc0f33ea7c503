// velmorctl doctor: what support used to gather by hand when the product did not come up at logon
// (the Run key, the service, the agent's window, the objects bearing the agent's names), in one
// command. Every check only looks: no value is written, no object is created, owned or released, no
// service is started and no window is sent anything but WM_NULL.
#include "tools/velmorctl/Doctor.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "VelmorVersion.h"
#include "app/CommandLine.h"
#include "app/ProductWindow.h"
#include "integration/Autostart.h"
#include "integration/Environment.h"
#include "peers/AgentContract.h"
#include "peers/ProductPeers.h"
#include "platform/AsciiCase.h"
#include "platform/win32/HandleConversions.h"
#include "platform/win32/LibraryFunction.h"
#include "platform/win32/Win32Handles.h"
#include "tools/velmorctl/Console.h"
#include "tools/velmorctl/NameBearers.h"

namespace velmor::ctl {
namespace {

enum class Verdict { Ok, Warning, Problem };

struct Finding {
  std::wstring_view check;
  Verdict verdict;
  std::wstring detail;
  std::wstring remedy;  // empty on an ok line
};

class Findings {
 public:
  void Ok(std::wstring_view check, std::wstring detail) {
    list_.push_back({check, Verdict::Ok, std::move(detail), {}});
  }
  void Warning(std::wstring_view check, std::wstring detail, std::wstring remedy) {
    list_.push_back({check, Verdict::Warning, std::move(detail), std::move(remedy)});
  }
  void Problem(std::wstring_view check, std::wstring detail, std::wstring remedy) {
    list_.push_back({check, Verdict::Problem, std::move(detail), std::move(remedy)});
  }
  [[nodiscard]] const std::vector<Finding>& List() const { return list_; }
  [[nodiscard]] std::uint32_t Count(Verdict verdict) const {
    return static_cast<std::uint32_t>(std::count_if(
        list_.begin(), list_.end(), [verdict](const Finding& finding) { return finding.verdict == verdict; }));
  }

 private:
  std::vector<Finding> list_;
};

// The names of the checks, as the text and the JSON give them.
constexpr std::wstring_view kAutostartValueCheck = L"autostart value";
constexpr std::wstring_view kAutostartPathCheck = L"autostart path";
constexpr std::wstring_view kAutostartArgumentCheck = L"autostart argument";
constexpr std::wstring_view kAgentCheck = L"agent";
constexpr std::wstring_view kAgentNameCheck = L"agent name";
constexpr std::wstring_view kMarkerCheck = L"marker";
constexpr std::wstring_view kLockCheck = L"residence lock";
constexpr std::wstring_view kServiceCheck = L"service";
constexpr std::wstring_view kProductWindowCheck = L"product window";
constexpr std::wstring_view kOtherVersionCheck = L"other version";
constexpr std::wstring_view kWindowsVersionCheck = L"windows version";
constexpr std::wstring_view kRightsCheck = L"rights";
constexpr std::wstring_view kWindowStationCheck = L"window station";

// How long an agent may take to answer WM_NULL before it counts as busy.
constexpr UINT kAnswerTimeoutMs = 2000;

// The parts one after the other: out of line, as every line of the report is made of a few.
std::wstring Cat(std::initializer_list<std::wstring_view> parts) {
  std::wstring text;
  for (const std::wstring_view part : parts) {
    text += part;
  }
  return text;
}

// The contract's names are ASCII.
std::wstring Wide(std::string_view ascii) {
  return {ascii.begin(), ascii.end()};
}

std::wstring Quoted(std::wstring_view text) {
  return Cat({L"\"", text, L"\""});
}

std::wstring ErrorText(DWORD error) {
  return Cat({L"error ", Decimal(error)});
}

// --- The autostart value ---------------------------------------------------------------------

std::wstring RunKeyForPeople() {
  return Cat({L"HKLM\\", Wide(peers::kRunKeyPath), L" ", Quoted(peers::kAutostartValueName)});
}

// The agent's own value, as a reg.exe command that writes it with the logon argument 1.
std::wstring WriteValueRemedy(std::wstring_view folderHint) {
  return Cat({L"elevated: reg add \"HKLM\\", Wide(peers::kRunKeyPath), L"\" /v ", peers::kAutostartValueName,
              L" /d \"\\\"", folderHint, Wide(peers::kAgentExecutableName), L"\\\" 1\" /reg:32 /f"});
}

// Whether the 64-bit view of the Run key holds a value of the agent's name, which the agent never reads.
bool ValueIn64BitView() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(peers::kRunKeyPath).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &raw) !=
      ERROR_SUCCESS) {
    return false;
  }
  const UniqueWin32Key key(raw);
  const std::wstring name(peers::kAutostartValueName);
  return RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
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

std::wstring FileNameOf(std::wstring_view path) {
  return std::wstring(path.substr(path.find_last_of(L"\\/") + 1));  // npos + 1: the whole path
}

std::wstring FolderOf(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, slash + 1));
}

void CheckAutostartPath(Findings& findings, const std::wstring& path) {
  const std::wstring agentName = Wide(peers::kAgentExecutableName);
  if (!EqualsIgnoringAsciiCase(FileNameOf(path), peers::kAgentExecutableName)) {
    findings.Problem(kAutostartPathCheck, Cat({L"the value starts ", Quoted(path), L", not ", agentName}),
                     WriteValueRemedy(FolderOf(path)));
    return;
  }
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    findings.Problem(
        kAutostartPathCheck,
        Cat({Quoted(path), L" does not exist (", ErrorText(GetLastError()), L"): nothing starts at logon"}),
        Cat({L"point the value at the installed ", agentName, L": run it elevated from its folder with the argument ",
             Wide(peers::kRestartOnlyKeyword), L", or reinstall the product"}));
    return;
  }
  findings.Ok(kAutostartPathCheck, Cat({Quoted(path), L" exists"}));
}

// What a logon start does with the value, decided by the agent's own functions: `commandLine` is what
// Windows runs, `text` the value as the agent reads it.
void CheckAutostartArgument(Findings& findings, const std::wstring& commandLine, const std::wstring& text) {
  const std::wstring argument = FirstArgument(commandLine).value_or(std::wstring());
  switch (ClassifyStartArgument(commandLine)) {
    case StartArgument::None:
      findings.Warning(kAutostartArgumentCheck,
                       L"none: each logon is a start by the user, which brings the product's window to the front "
                       L"and leaves no agent resident when the product is up already",
                       Cat({L"add the logon argument: \"...\\", Wide(peers::kAgentExecutableName), L"\" 1"}));
      return;
    case StartArgument::FirstStart:
    case StartArgument::RestartOnly:
      findings.Problem(kAutostartArgumentCheck,
                       Cat({Quoted(argument), L" is an install-time keyword: each logon rewrites the value instead"}),
                       L"replace it with the logon argument 1");
      return;
    case StartArgument::Other:
      break;
  }
  if (IsAutostartSwitchedOff(text)) {
    findings.Problem(kAutostartArgumentCheck, L"switched off: the value ends in 0, so the agent ends at once at logon",
                     L"if autostart should be on, end the value in another argument, such as 1");
    return;
  }
  findings.Ok(kAutostartArgumentCheck, Cat({Quoted(argument), L": a logon start, the agent stays resident"}));
}

void CheckAutostart(Findings& findings, AgentPlatform& os) {
  std::wstring text;
  std::uint32_t type = REG_NONE;
  const Win32Status status = ReadAutostartValue(os, text, type);  // as the agent reads it
  if (status == win32::kErrorInvalidData) {
    findings.Problem(kAutostartValueCheck,
                     Cat({L"of type ", Decimal(type), L", not a string (REG_SZ or REG_EXPAND_SZ)"}),
                     Cat({L"delete it and ", WriteValueRemedy(L"<folder>\\")}));
    return;
  }
  if (status == win32::kErrorMoreData) {
    findings.Problem(kAutostartValueCheck,
                     L"longer than any command line (error 234): Windows cannot run it, nor the agent read it",
                     WriteValueRemedy(L"<folder>\\"));
    return;
  }
  if (status != win32::kErrorSuccess) {
    std::wstring detail = Cat({L"no value ", RunKeyForPeople(), L" in the 32-bit view (", ErrorText(status),
                               L"): nothing starts the agent at logon"});
    if (ValueIn64BitView()) {
      detail += L"; the 64-bit view holds one, which the agent never reads";
    }
    findings.Problem(kAutostartValueCheck, detail, WriteValueRemedy(L"<folder>\\"));
    return;
  }
  findings.Ok(kAutostartValueCheck, Cat({type == REG_SZ ? L"REG_SZ " : L"REG_EXPAND_SZ ", text}));
  const std::wstring commandLine = type == REG_EXPAND_SZ ? Expanded(text) : text;
  const std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
  if (arguments.empty()) {
    findings.Problem(kAutostartPathCheck, L"the value is empty", WriteValueRemedy(L"<folder>\\"));
    return;
  }
  CheckAutostartPath(findings, arguments.front());
  CheckAutostartArgument(findings, commandLine, text);
}

// --- The agent and the objects bearing its names ---------------------------------------------

struct AgentSeen {
  bool canSee = true;  // false in a window station that shows none of the user's windows
  NameBearers bearers;
  bool answers = false;  // the first agent's
  [[nodiscard]] const NameBearer* Agent() const { return bearers.agents.empty() ? nullptr : &bearers.agents.front(); }
  // Whether an agent is, or may be, resident: a window bearing its name is an agent's, or belongs to a
  // process that velmorctl may not look at.
  [[nodiscard]] bool MayBeResident() const { return bearers.MayHoldAnAgent(); }
};

AgentSeen FindAgent(AgentPlatform& os, bool interactive) {
  AgentSeen agent;
  agent.canSee = interactive;
  agent.bearers = FindNameBearers(os);
  if (const NameBearer* first = agent.Agent()) {
    DWORD_PTR result = 0;
    agent.answers = SendMessageTimeoutW(win32impl::ToHwnd(first->window), WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                        kAnswerTimeoutMs, &result) != 0;
  }
  return agent;
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

// Whether, from here, an agent that is not seen may be one that is not there.
bool NotJudgedFromHere(Findings& findings, std::wstring_view check, const AgentSeen& agent) {
  if (agent.canSee || agent.MayBeResident()) {
    return false;
  }
  findings.Warning(check, L"not judged: this window station shows none of the user's windows",
                   L"run velmorctl doctor in the user's session, as the user");
  return true;
}

void CheckAgent(Findings& findings, const AgentSeen& agent) {
  if (NotJudgedFromHere(findings, kAgentCheck, agent)) {
    return;
  }
  const NameBearer* const resident = agent.Agent();
  if (resident == nullptr && agent.MayBeResident()) {
    findings.Warning(kAgentCheck,
                     L"not judged: the process of a window bearing the agent's name cannot be looked at (see agent "
                     L"name)",
                     L"an agent started elevated, or another program: run velmorctl elevated to tell");
    return;
  }
  if (resident == nullptr) {
    findings.Problem(kAgentCheck, L"no agent is resident",
                     Cat({L"start it as the user as the autostart value does (", Wide(peers::kAgentExecutableName),
                          L" 1) while velmorctl trace runs in another window: its lines say why it does not stay"}));
    return;
  }
  const std::wstring version = FileVersionOf(resident->image);
  const std::wstring detail = Cat({L"resident, process ", Decimal(resident->processId), L", version ",
                                   version.empty() ? std::wstring_view(L"unknown") : version, L", ", resident->image});
  if (!agent.answers) {
    findings.Warning(kAgentCheck, Cat({detail, L"; it did not answer within 2 seconds"}),
                     L"it is busy asking the service (up to about 20 seconds after logon) or hangs: run velmorctl "
                     L"doctor again in half a minute, and velmorctl quit if it still does not answer");
    return;
  }
  const std::string_view own = VELMOR_VERSION_TEXT;
  if (!version.empty() && version != Wide(own)) {
    findings.Warning(kAgentCheck, Cat({detail, L"; this velmorctl ships with version ", Wide(own)}),
                     L"an agent of another version still runs: velmorctl quit, then start the installed one");
    return;
  }
  findings.Ok(kAgentCheck, detail);
}

// A window of another program that bears the agent's name: the agents and velmorctl tell it from
// theirs, but a program that looks for the agent by its name alone finds it, and may find it first.
void CheckAgentName(Findings& findings, const AgentSeen& agent) {
  if (NotJudgedFromHere(findings, kAgentNameCheck, agent)) {
    return;
  }
  std::wstring programs;
  std::wstring unknown;
  for (const NameBearer& other : agent.bearers.others) {
    std::wstring& list = other.image.empty() ? unknown : programs;
    list += Cat({list.empty() ? L"" : L"; ", Describe(other)});
  }
  if (!programs.empty()) {
    findings.Problem(kAgentNameCheck, Cat({L"a window of another program bears it: ", programs}),
                     L"end that program (Task Manager, Details, by its process id) and find what made it take the "
                     L"agent's name: tools that look for the agent by its name alone reach it instead");
  } else if (!unknown.empty()) {
    findings.Warning(kAgentNameCheck, Cat({L"a window bears it whose process cannot be looked at: ", unknown}),
                     L"an agent started elevated, or another program: run velmorctl elevated to tell");
  } else {
    findings.Ok(kAgentNameCheck,
                agent.Agent() != nullptr ? L"borne by the agent's window alone" : L"borne by no window");
  }
}

// An object that bears one of the agent's names while no agent answers belongs to no agent: a program
// squats the name.
constexpr std::wstring_view kSquatterRemedyStart = L"end the program that holds ";

void CheckMarker(Findings& findings, const AgentSeen& agent) {
  if (NotJudgedFromHere(findings, kMarkerCheck, agent)) {
    return;
  }
  const std::string name(peers::kInstanceMarkerName);
  const UniqueWin32Handle marker(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()));
  const DWORD error = marker ? ERROR_SUCCESS : GetLastError();
  const std::wstring remedy = Cat({kSquatterRemedyStart, Quoted(Wide(name)),
                                   L" (Process Explorer: Find, Handle); meanwhile each agent that starts takes itself "
                                   L"for a second one"});
  if (error == ERROR_INVALID_HANDLE) {
    findings.Problem(kMarkerCheck, L"an object of another kind bears the marker's name", remedy);
  } else if (agent.MayBeResident() && (error == ERROR_SUCCESS || error == ERROR_ACCESS_DENIED)) {
    findings.Ok(kMarkerCheck, error == ERROR_SUCCESS
                                  ? L"held while the agent is resident"
                                  : L"held, with rights velmorctl lacks, while the agent is resident");
  } else if (error == ERROR_SUCCESS || error == ERROR_ACCESS_DENIED) {
    findings.Problem(kMarkerCheck, L"exists while no agent is resident: a program squats it, or an agent is starting",
                     remedy);
  } else if (error == ERROR_FILE_NOT_FOUND) {
    if (agent.MayBeResident()) {
      findings.Warning(kMarkerCheck, L"absent although an agent is resident",
                       L"velmorctl quit, then start the agent again");
    } else {
      findings.Ok(kMarkerCheck, L"absent, as no agent runs");
    }
  } else {
    findings.Warning(kMarkerCheck, Cat({L"cannot be looked at (", ErrorText(error), L")"}),
                     L"run velmorctl as the user");
  }
}

// Whether a mutex is owned, read without waiting on it (a wait would take a free lock, and so change
// what an agent starting meanwhile finds). Nothing when the system does not say.
enum class LockState { Free, Held, Unknown };

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

void CheckResidenceLock(Findings& findings, const AgentSeen& agent) {
  if (NotJudgedFromHere(findings, kLockCheck, agent)) {
    return;
  }
  constexpr DWORD kMutantQueryState = 0x0001;
  const std::string name(peers::kResidenceLockName);
  const UniqueWin32Handle lock(OpenMutexA(SYNCHRONIZE | kMutantQueryState, FALSE, name.c_str()));
  const DWORD error = lock ? ERROR_SUCCESS : GetLastError();
  const std::wstring remedy = Cat({kSquatterRemedyStart, Quoted(Wide(name)), L" (Process Explorer: Find, Handle)"});
  if (error == ERROR_FILE_NOT_FOUND) {
    if (agent.MayBeResident()) {
      findings.Warning(kLockCheck, L"absent although an agent is resident",
                       L"an agent of a version without the lock, or one started elevated: velmorctl quit, then "
                       L"start the installed agent as the user");
    } else {
      findings.Ok(kLockCheck, L"absent, as no agent runs");
    }
    return;
  }
  if (error == ERROR_INVALID_HANDLE) {
    findings.Problem(kLockCheck, L"an object of another kind bears the lock's name", remedy);
    return;
  }
  if (error != ERROR_SUCCESS && error != ERROR_ACCESS_DENIED) {
    findings.Warning(kLockCheck, Cat({L"cannot be looked at (", ErrorText(error), L")"}), L"run velmorctl as the user");
    return;
  }
  const LockState state = lock ? StateOf(lock.get()) : LockState::Unknown;
  if (agent.MayBeResident()) {
    if (state == LockState::Free) {
      findings.Warning(kLockCheck, L"free although an agent is resident",
                       L"the agent was started elevated and will not stay: start it as the user");
    } else {
      findings.Ok(kLockCheck, L"held while the agent is resident");
    }
    return;
  }
  switch (state) {
    case LockState::Held:
      findings.Problem(kLockCheck, L"held by a program while no agent answers: a program squats it", remedy);
      return;
    case LockState::Unknown:
      findings.Warning(kLockCheck, L"exists while no agent answers; whether it is held cannot be read here",
                       Cat({remedy, L", if one does"}));
      return;
    case LockState::Free:
      findings.Ok(kLockCheck, L"free (a program holds it open without owning it)");
      return;
  }
}

// --- The product -----------------------------------------------------------------------------

void CheckService(Findings& findings) {
  const std::wstring name = Wide(peers::kProductServiceName);
  const UniqueWin32Service manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    findings.Warning(kServiceCheck, Cat({L"the service manager cannot be opened (", ErrorText(GetLastError()), L")"}),
                     L"run velmorctl as the user on the user's desktop");
    return;
  }
  // Opened as the agent opens it, for its request, to see whether this user may make it.
  UniqueWin32Service service(
      OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS | win32::kServiceUserDefinedControl));
  const DWORD openError = service ? ERROR_SUCCESS : GetLastError();
  if (openError == ERROR_SERVICE_DOES_NOT_EXIST) {
    findings.Problem(kServiceCheck, Cat({name, L" is not installed: the agent cannot ask it to bring the product up"}),
                     L"reinstall the product");
    return;
  }
  if (openError == ERROR_ACCESS_DENIED) {
    service.reset(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
    if (service) {
      findings.Problem(kServiceCheck,
                       Cat({name, L" refuses this user the agent's request (", ErrorText(openError), L")"}),
                       L"reinstall the product, whose installer grants users that right");
      return;
    }
  }
  SERVICE_STATUS status{};
  if (!service || QueryServiceStatus(service.get(), &status) == FALSE) {
    findings.Warning(kServiceCheck, Cat({name, L" cannot be queried (", ErrorText(GetLastError()), L")"}),
                     Cat({L"sc query ", name}));
    return;
  }
  switch (status.dwCurrentState) {
    case SERVICE_RUNNING:
      findings.Ok(kServiceCheck, Cat({name, L" running"}));
      return;
    case SERVICE_STOPPED:
      findings.Problem(kServiceCheck,
                       Cat({name, L" is stopped: the agent's request fails after about 20 seconds, and it says so"}),
                       Cat({L"elevated: sc config ", name, L" start= auto, then sc start ", name,
                            L"; if it does not start, look in the Event Viewer"}));
      return;
    default:
      findings.Warning(kServiceCheck,
                       Cat({name, L" is neither running nor stopped (state ", Decimal(status.dwCurrentState), L")"}),
                       Cat({L"run velmorctl doctor again in a minute; sc query ", name}));
      return;
  }
}

void CheckProductWindow(Findings& findings, AgentPlatform& os, bool interactive) {
  const WindowHandle window = FindProductWindow(os);
  if (window == kNoWindow) {
    findings.Warning(kProductWindowCheck,
                     interactive ? L"absent: the product is not running"
                                 : L"not seen: this window station shows none of the user's windows",
                     interactive ? L"start the product; at logon the agent asks its service to"
                                 : L"run velmorctl doctor in the user's session, as the user");
    return;
  }
  findings.Ok(kProductWindowCheck, os.IsWindowVisible(window) ? L"visible" : L"hidden (in the notification area)");
}

void CheckOtherVersion(Findings& findings, AgentPlatform& os) {
  if (IsOtherVersionRunning(os)) {  // as the agent's install-time start sees it
    std::wstring markers;
    for (const std::string_view marker : peers::kOtherVersionMarkers) {
      markers += Cat({markers.empty() ? L"" : L" or ", Quoted(Wide(marker))});
    }
    findings.Warning(kOtherVersionCheck,
                     Cat({L"another product version runs (a marker of one, ", markers,
                          L", exists): an install-time start asks to restart the computer"}),
                     L"close the other version, or restart, before installing");
    return;
  }
  findings.Ok(kOtherVersionCheck, L"none runs");
}

// --- The system and velmorctl's own view -----------------------------------------------------

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

void CheckWindowsVersion(Findings& findings) {
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
  if (!SystemVersion(major, minor, build)) {
    findings.Warning(kWindowsVersionCheck, L"cannot be read", L"winver");
    return;
  }
  const std::wstring version = Cat({Decimal(major), L".", Decimal(minor), L".", Decimal(build)});
  const std::wstring gate =
      Cat({Decimal(kOldestSupportedMajor), L".", Decimal(kOldestSupportedMinor), L" (Windows 8.1)"});
  if (major < kOldestSupportedMajor || (major == kOldestSupportedMajor && minor < kOldestSupportedMinor)) {
    findings.Problem(
        kWindowsVersionCheck,
        Cat({version, L", older than ", gate, L": the agent says the system is not supported and ends"}),
        Cat({L"use Windows 8.1 or later, and take any compatibility mode off ", Wide(peers::kAgentExecutableName)}));
    return;
  }
  findings.Ok(kWindowsVersionCheck, Cat({version, L", at least ", gate}));
}

void CheckRights(Findings& findings, AgentPlatform& os) {
  findings.Ok(kRightsCheck, os.IsCurrentProcessElevated()
                                ? L"velmorctl runs elevated: it sees what an administrator sees, and the "
                                  L"service line tells an administrator's rights, not the user's"
                                : L"velmorctl runs with the user's rights, as the agent at logon");
}

void CheckWindowStation(Findings& findings, bool interactive) {
  if (interactive) {
    findings.Ok(kWindowStationCheck, L"interactive: the user's windows can be seen");
    return;
  }
  findings.Warning(kWindowStationCheck,
                   L"not interactive (a service's, or session 0): the agent's and the product's windows and "
                   L"the user's session's objects cannot be seen from here",
                   L"run velmorctl doctor in the user's session, as the user");
}

// --- Output ----------------------------------------------------------------------------------

std::wstring_view VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Ok:
      return L"ok";
    case Verdict::Warning:
      return L"warning";
    case Verdict::Problem:
      return L"problem";
  }
  return L"problem";
}

void PrintText(const Findings& findings) {
  constexpr std::size_t kColumn = 9;  // "problem" and two spaces
  std::wstring text;
  for (const Finding& finding : findings.List()) {
    const std::wstring_view verdict = VerdictName(finding.verdict);
    text += Cat({verdict, std::wstring(kColumn - verdict.size(), L' '), finding.check, L": ", finding.detail, L"\n"});
    if (!finding.remedy.empty()) {
      text += Cat({std::wstring(kColumn, L' '), L"remedy: ", finding.remedy, L"\n"});
    }
  }
  const std::uint32_t problems = findings.Count(Verdict::Problem);
  const std::uint32_t warnings = findings.Count(Verdict::Warning);
  text +=
      problems == 0 ? std::wstring(L"healthy") : Cat({Decimal(problems), problems == 1 ? L" problem" : L" problems"});
  text += Cat({L", ", Decimal(warnings), warnings == 1 ? L" warning\n" : L" warnings\n"});
  Say(text);
}

std::wstring JsonString(std::wstring_view text) {
  constexpr std::wstring_view kHex = L"0123456789abcdef";
  std::wstring json = L"\"";
  for (const wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      json += L'\\';
      json += c;
    } else if (c < L' ') {
      json += L"\\u00";
      json += kHex[(c >> 4U) & 0xFU];
      json += kHex[c & 0xFU];
    } else {
      json += c;
    }
  }
  return json + L"\"";
}

void PrintJson(const Findings& findings) {
  const std::uint32_t problems = findings.Count(Verdict::Problem);
  std::wstring json = L"{\"healthy\": " + std::wstring(problems == 0 ? L"true" : L"false") + L", \"problems\": " +
                      Decimal(problems) + L", \"warnings\": " + Decimal(findings.Count(Verdict::Warning)) +
                      L", \"checks\": [";
  bool first = true;
  for (const Finding& finding : findings.List()) {
    json += first ? L"\n  " : L",\n  ";
    first = false;
    json += L"{\"check\": " + JsonString(finding.check) + L", \"status\": " + JsonString(VerdictName(finding.verdict)) +
            L", \"detail\": " + JsonString(finding.detail);
    if (!finding.remedy.empty()) {
      json += L", \"remedy\": " + JsonString(finding.remedy);
    }
    json += L"}";
  }
  Say(json + L"\n]}\n");
}

}  // namespace

bool RunDoctor(AgentPlatform& os, DoctorOutput output) {
  const bool interactive = os.IsWindowStationInteractive();
  Findings findings;
  CheckAutostart(findings, os);
  const AgentSeen agent = FindAgent(os, interactive);
  CheckAgent(findings, agent);
  CheckAgentName(findings, agent);
  CheckMarker(findings, agent);
  CheckResidenceLock(findings, agent);
  CheckService(findings);
  CheckProductWindow(findings, os, interactive);
  CheckOtherVersion(findings, os);
  CheckWindowsVersion(findings);
  CheckRights(findings, os);
  CheckWindowStation(findings, interactive);
  if (output == DoctorOutput::Json) {
    PrintJson(findings);
  } else {
    PrintText(findings);
  }
  return findings.Count(Verdict::Problem) == 0;
}

}  // namespace velmor::ctl
