#include "tools/velmorctl/DoctorJudges.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <utility>

#include "VelmorVersion.h"
#include "app/AgentWindow.h"
#include "app/CommandLine.h"
#include "integration/Autostart.h"
#include "integration/Environment.h"
#include "integration/ServiceRequest.h"
#include "peers/AgentContract.h"
#include "peers/AgentTimes.h"
#include "peers/ProductPeers.h"
#include "platform/AsciiCase.h"
#include "platform/Decimal.h"

namespace velmor::ctl {
namespace {

// The names of the checks, as the text and the JSON give them.
constexpr std::wstring_view kAutostartValueCheck = L"autostart value";
constexpr std::wstring_view kAutostartPathCheck = L"autostart path";
constexpr std::wstring_view kAutostartArgumentCheck = L"autostart argument";
constexpr std::wstring_view kStartupSwitchCheck = L"startup switch";
constexpr std::wstring_view kAgentCheck = L"agent";
constexpr std::wstring_view kSecondAgentCheck = L"second agent";
constexpr std::wstring_view kAgentNameCheck = L"agent name";
constexpr std::wstring_view kMarkerCheck = L"marker";
constexpr std::wstring_view kLockCheck = L"residence lock";
constexpr std::wstring_view kServiceCheck = L"service";
constexpr std::wstring_view kProductWindowCheck = L"product window";
constexpr std::wstring_view kOtherVersionCheck = L"other version";
constexpr std::wstring_view kWindowsVersionCheck = L"windows version";
constexpr std::wstring_view kCompatibilityCheck = L"compatibility mode";
constexpr std::wstring_view kRightsCheck = L"rights";
constexpr std::wstring_view kWindowStationCheck = L"window station";

// How long velmorctl waits for the agent's answer to WM_NULL (DoctorGather.cpp asks with it).
constexpr std::uint32_t kAgentAnswerSeconds = 2;
// The service manager's wait for a service's handler when ServicesPipeTimeout is not set, on Windows
// and under Wine.
constexpr std::uint32_t kDefaultPipeTimeoutMs = 30000;
constexpr std::uint32_t kWineDefaultPipeTimeoutMs = 10000;
// The service's states and start types, as the service manager gives them.
constexpr std::uint32_t kServiceStopped = 1;
constexpr std::uint32_t kServiceRunning = 4;
constexpr std::uint32_t kAutoStart = 2;
constexpr std::uint32_t kDemandStart = 3;
constexpr std::uint32_t kDisabled = 4;
// The longest part of a value that a line of the report quotes; the JSON gives it whole.
constexpr std::size_t kQuotedTextLimit = 160;

// The parts one after the other.
std::wstring Cat(std::initializer_list<std::wstring_view> parts) {
  std::wstring text;
  for (const std::wstring_view part : parts) {
    text += part;
  }
  return text;
}

std::wstring Dec(std::uint32_t number) {
  std::wstring text;
  AppendDecimal(text, number);
  return text;
}

// The contract's names are ASCII.
std::wstring Wide(std::string_view ascii) {
  return {ascii.begin(), ascii.end()};
}

std::wstring Quoted(std::wstring_view text) {
  return Cat({L"\"", text, L"\""});
}

std::wstring ErrorText(Win32Status error) {
  return Cat({L"error ", Dec(error)});
}

// Whole seconds, rounded up.
std::uint32_t SecondsOf(std::uint64_t ms) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>((ms + 999U) / 1000U, UINT32_MAX));
}

std::wstring Seconds(std::uint64_t ms) {
  return Cat({Dec(SecondsOf(ms)), L" s"});
}

std::wstring_view TypeName(std::uint32_t type) {
  constexpr std::array<std::wstring_view, 12> kNames = {L"REG_NONE",
                                                        L"REG_SZ",
                                                        L"REG_EXPAND_SZ",
                                                        L"REG_BINARY",
                                                        L"REG_DWORD",
                                                        L"REG_DWORD_BIG_ENDIAN",
                                                        L"REG_LINK",
                                                        L"REG_MULTI_SZ",
                                                        L"REG_RESOURCE_LIST",
                                                        L"REG_FULL_RESOURCE_DESCRIPTOR",
                                                        L"REG_RESOURCE_REQUIREMENTS_LIST",
                                                        L"REG_QWORD"};
  return type < kNames.size() ? kNames[type] : std::wstring_view(L"an unknown type");
}

std::wstring Shortened(std::wstring_view text) {
  if (text.size() <= kQuotedTextLimit) {
    return std::wstring(text);
  }
  return Cat(
      {text.substr(0, kQuotedTextLimit), L"... (", Dec(static_cast<std::uint32_t>(text.size())), L" characters)"});
}

std::wstring FileNameOf(std::wstring_view path) {
  return std::wstring(path.substr(path.find_last_of(L"\\/") + 1));  // npos + 1: the whole path
}

std::wstring FolderOf(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, slash + 1));
}

FindingField Text(std::string_view name, std::wstring text) {
  return {name, std::move(text), std::nullopt};
}

FindingField Number(std::string_view name, std::uint32_t number) {
  return {name, {}, number};
}

class Findings {
 public:
  Finding& Add(std::wstring_view check, Verdict verdict, std::string_view reason, std::wstring detail,
               std::wstring remedy = {}) {
    list_.push_back({check, verdict, reason, std::move(detail), std::move(remedy), {}});
    return list_.back();
  }
  std::vector<Finding> Take() { return std::move(list_); }

 private:
  std::vector<Finding> list_;
};

// The facts of a process, for scripts.
void AddProcessFields(Finding& finding, const ProcessFacts& process) {
  finding.fields.push_back(Number("pid", process.processId));
  if (!process.image.empty()) {
    finding.fields.push_back(Text("path", process.image));
  }
  if (!process.fileVersion.empty()) {
    finding.fields.push_back(Text("fileVersion", process.fileVersion));
  }
}

std::wstring EndProcessCommand(std::uint32_t processId) {
  return Cat({L"taskkill /pid ", Dec(processId), L" /f"});
}

// --- The autostart value ---------------------------------------------------------------------

const std::wstring kRunKeyForReg = Cat({L"HKLM\\", Wide(peers::kRunKeyPath)});

// The folder of velmor.exe as the remedies name it: the installed agent's, when velmorctl knows it.
std::wstring AgentFolder(const DoctorFacts& facts) {
  return facts.agentFolder.empty() ? std::wstring(L"<folder of velmor.exe>\\") : facts.agentFolder;
}

// The agent's own value, as a reg.exe command that writes it (whatever is there) with the logon
// argument 1.
std::wstring WriteValueRemedy(std::wstring_view folder) {
  return Cat({L"elevated: reg add \"", kRunKeyForReg, L"\" /v ", peers::kAutostartValueName, L" /t REG_SZ /d \"\\\"",
              folder, Wide(peers::kAgentExecutableName), L"\\\" 1\" /reg:32 /f"});
}

void CheckAutostartPath(Findings& findings, const DoctorFacts& facts, const std::wstring& path) {
  const std::wstring agentName = Wide(peers::kAgentExecutableName);
  if (!EqualsIgnoringAsciiCase(FileNameOf(path), peers::kAgentExecutableName)) {
    findings
        .Add(kAutostartPathCheck, Verdict::Problem, "autostart-path-not-agent",
             Cat({L"the value starts ", Quoted(path), L", not ", agentName}), WriteValueRemedy(AgentFolder(facts)))
        .fields.push_back(Text("path", path));
    return;
  }
  if (facts.autostartTargetError != win32::kErrorSuccess) {
    const bool installedElsewhere =
        !facts.agentFolder.empty() && LowerAscii(FolderOf(path)) != LowerAscii(facts.agentFolder);
    findings
        .Add(kAutostartPathCheck, Verdict::Problem, "autostart-path-missing",
             Cat({Quoted(path), L" does not exist (", ErrorText(facts.autostartTargetError),
                  L"): nothing starts at logon"}),
             installedElsewhere
                 ? Cat({L"point the value at the installed agent: ", WriteValueRemedy(facts.agentFolder)})
                 : std::wstring(L"repair the package \"Tessaly desktop agent\" (Settings, Apps), which places "
                                L"velmor.exe and points the value at it"))
        .fields.push_back(Text("path", path));
    return;
  }
  findings.Add(kAutostartPathCheck, Verdict::Ok, "autostart-path-exists", Cat({Quoted(path), L" exists"}))
      .fields.push_back(Text("path", path));
}

// What a logon start does with the value, decided by the agent's own functions.
void CheckAutostartArgument(Findings& findings, const DoctorFacts& facts, const std::wstring& path) {
  const std::wstring argument = FirstArgument(facts.commandLine).value_or(std::wstring());
  const std::wstring remedy = WriteValueRemedy(FolderOf(path));
  switch (ClassifyStartArgument(facts.commandLine)) {
    case StartArgument::None:
      findings.Add(kAutostartArgumentCheck, Verdict::Warning, "autostart-argument-none",
                   L"none: each logon is a start by the user, which brings the product's window to the front "
                   L"and leaves no agent resident when the product is up already",
                   Cat({L"give it the logon argument: ", remedy}));
      return;
    case StartArgument::FirstStart:
    case StartArgument::RestartOnly:
      findings
          .Add(kAutostartArgumentCheck, Verdict::Problem, "autostart-argument-install-keyword",
               Cat({Quoted(argument), L" is an install-time keyword: each logon rewrites the value instead"}),
               Cat({L"give it the logon argument: ", remedy}))
          .fields.push_back(Text("argument", argument));
      return;
    case StartArgument::Other:
      break;
  }
  if (IsAutostartSwitchedOff(facts.autostart.text)) {
    findings.Add(kAutostartArgumentCheck, Verdict::Problem, "autostart-switched-off",
                 L"switched off: the value ends in 0, so the agent ends at once at logon",
                 Cat({L"if autostart should be on: ", remedy}));
    return;
  }
  findings
      .Add(kAutostartArgumentCheck, Verdict::Ok, "autostart-argument-logon",
           Cat({Quoted(Shortened(argument)), L": a logon start, the agent stays resident"}))
      .fields.push_back(Text("argument", argument));
}

void CheckAutostart(Findings& findings, const DoctorFacts& facts) {
  const RegistryValueFacts& value = facts.autostart;
  const std::wstring remedy = WriteValueRemedy(AgentFolder(facts));
  const auto withValue = [&value](Finding& finding) {
    finding.fields.push_back(Text("valueType", std::wstring(TypeName(value.type))));
    finding.fields.push_back(Number("valueBytes", value.size));
  };
  if (value.status == win32::kErrorInvalidData) {
    withValue(findings.Add(kAutostartValueCheck, Verdict::Problem, "autostart-value-not-string",
                           Cat({L"of type ", TypeName(value.type), L", not a string (REG_SZ or REG_EXPAND_SZ)"}),
                           remedy));
    return;
  }
  if (value.status == win32::kErrorMoreData) {
    withValue(findings.Add(
        kAutostartValueCheck, Verdict::Problem, "autostart-value-too-long",
        Cat({Dec(value.size), L" bytes, longer than any command line (", Dec(kLongestAutostartText),
             L" characters): Windows cannot run it, and the agent does not read it and counts it as no value"}),
        remedy));
    return;
  }
  if (value.status == win32::kErrorFileNotFound) {
    std::wstring detail = Cat({L"no value ", kRunKeyForReg, L" ", Quoted(peers::kAutostartValueName),
                               L" in the 32-bit view: nothing starts the agent at logon"});
    std::wstring fix = remedy;
    if (facts.autostartIn64BitView) {
      detail += L"; the 64-bit view holds one, which the agent never reads";
      fix += Cat({L"; then remove the other: elevated: reg delete \"", kRunKeyForReg, L"\" /v ",
                  peers::kAutostartValueName, L" /reg:64 /f"});
    }
    findings.Add(kAutostartValueCheck, Verdict::Problem, "autostart-value-missing", std::move(detail), std::move(fix));
    return;
  }
  if (value.status != win32::kErrorSuccess) {
    findings.Add(kAutostartValueCheck, Verdict::Warning, "autostart-value-unreadable",
                 Cat({L"cannot be read (", ErrorText(value.status),
                      L"): the agent counts it as no value, and its path and argument are not judged"}),
                 Cat({L"reg query \"", kRunKeyForReg, L"\" /v ", peers::kAutostartValueName, L" /reg:32"}));
    return;
  }
  if (facts.commandLine.size() > kLongestAutostartText) {
    Finding& finding =
        findings.Add(kAutostartValueCheck, Verdict::Problem, "autostart-command-line-too-long",
                     Cat({TypeName(value.type), L" of ", Dec(static_cast<std::uint32_t>(value.text.size())),
                          L" characters that expands to ", Dec(static_cast<std::uint32_t>(facts.commandLine.size())),
                          L", more than any command line (", Dec(kLongestAutostartText), L"): Windows cannot run it"}),
                     remedy);
    withValue(finding);
    finding.fields.push_back(Text("valueText", value.text));
    return;
  }
  Finding& finding = findings.Add(kAutostartValueCheck, Verdict::Ok, "autostart-value-read",
                                  Cat({TypeName(value.type), L" ", Shortened(value.text)}));
  withValue(finding);
  finding.fields.push_back(Text("valueText", value.text));
  const std::vector<std::wstring> arguments = SplitCommandLine(facts.commandLine);
  if (arguments.empty()) {
    findings.Add(kAutostartPathCheck, Verdict::Problem, "autostart-path-empty", L"the value is empty", remedy);
    return;
  }
  CheckAutostartPath(findings, facts, arguments.front());
  CheckAutostartArgument(findings, facts, arguments.front());
}

// The first bytes of a switched-on entry, as observed: 2, and 6 once it was switched off and on again.
constexpr std::uint8_t kSwitchedOn = 2;
constexpr std::uint8_t kSwitchedOnAgain = 6;

bool IsSwitchedOnByte(std::uint8_t first) {
  return first == kSwitchedOn || first == kSwitchedOnAgain;
}

// Task Manager's and Settings' switch of the Run entry. Its 12 bytes are no documented interface: by
// observed practice a first byte of 2 or 6 is on, any other (3 is common) off; no value is on.
void CheckStartupSwitch(Findings& findings, const DoctorFacts& facts) {
  constexpr std::wstring_view kRun32 =
      L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run32";
  std::wstring recorded;
  bool off = false;
  for (const StartupSwitchFacts& entry : facts.startupSwitches) {
    if (entry.value.status != win32::kErrorSuccess) {
      continue;  // no switch recorded in this hive
    }
    const std::optional<std::uint8_t> first =
        entry.value.bytes.empty() ? std::nullopt : std::optional<std::uint8_t>(entry.value.bytes.front());
    const std::wstring where = Cat({entry.hive, kRun32, L" ", Quoted(peers::kAutostartValueName)});
    if (first && IsSwitchedOnByte(*first)) {
      recorded += Cat({recorded.empty() ? L"" : L", ", entry.hive, L" first byte ", Dec(*first)});
      continue;
    }
    off = true;
    const bool machine = entry.hive == L"HKLM";
    Finding& finding = findings.Add(
        kStartupSwitchCheck, Verdict::Problem, "startup-switch-off",
        Cat({L"switched off in Task Manager or Settings (", where, L", first byte ",
             first ? Dec(*first) : std::wstring(L"none"), L"): Windows does not run the autostart value at logon"}),
        Cat({L"Task Manager, Startup (or Settings, Apps, Startup): switch Tessaly on; or, for a script: ",
             machine ? L"elevated: " : L"", L"reg delete \"", entry.hive, kRun32, L"\" /v ", peers::kAutostartValueName,
             L" /f", machine ? L" /reg:64" : L""}));
    finding.fields.push_back(Text("hive", entry.hive));
    if (first) {
      finding.fields.push_back(Number("firstByte", *first));
    }
  }
  if (off) {
    return;
  }
  findings.Add(kStartupSwitchCheck, Verdict::Ok, "startup-switch-on",
               recorded.empty() ? std::wstring(L"on: no switch recorded") : Cat({L"on (", recorded, L")"}));
}

// --- The agent and the objects bearing its names ---------------------------------------------

// Whether an agent is, or may be, resident: a window bearing its name is an agent's, or belongs to a
// process that velmorctl may not look at.
bool MayBeResident(const DoctorFacts& facts) {
  return !facts.agents.empty() ||
         std::any_of(facts.nameBearers.begin(), facts.nameBearers.end(),
                     [](const ProcessFacts& other) { return other.openError == win32::kErrorAccessDenied; });
}

// Whether, from here, an agent that is not seen may be one that is not there.
bool NotJudgedFromHere(Findings& findings, std::wstring_view check, const DoctorFacts& facts) {
  if (facts.interactive || MayBeResident(facts)) {
    return false;
  }
  findings.Add(check, Verdict::Warning, "not-judged-from-here",
               L"not judged: this window station shows none of the user's windows",
               L"run velmorctl doctor in the user's session, as the user");
  return true;
}

// "process 196, C:\Folder\program.exe", or what kept the image from being read.
std::wstring Describe(const ProcessFacts& process) {
  std::wstring text = Cat({L"process ", Dec(process.processId), L", "});
  if (!process.image.empty()) {
    return text + process.image;
  }
  return text + L"whose image cannot be read" +
         (process.openError != 0 ? Cat({L" (", ErrorText(process.openError), L")"}) : std::wstring());
}

// The longest an agent's service request holds it without answering: its retries while the service
// is not ready, and the service manager's wait for a handler that does not return.
std::uint64_t ServiceRequestBoundMs(const DoctorFacts& facts) {
  return static_cast<std::uint64_t>(times::kServiceControlRetries) * times::kServiceControlRetryPauseMs +
         facts.service.pipeTimeoutMs.value_or(facts.service.underWine ? kWineDefaultPipeTimeoutMs
                                                                      : kDefaultPipeTimeoutMs);
}

std::wstring PipeTimeoutText(const DoctorFacts& facts) {
  if (facts.service.pipeTimeoutMs) {
    return Cat({Seconds(*facts.service.pipeTimeoutMs), L" (ServicesPipeTimeout)"});
  }
  return facts.service.underWine
             ? Cat({Seconds(kWineDefaultPipeTimeoutMs), L" (Wine's; ServicesPipeTimeout is not set)"})
             : Cat({Seconds(kDefaultPipeTimeoutMs), L" (Windows' default; ServicesPipeTimeout is not set)"});
}

void CheckAgent(Findings& findings, const DoctorFacts& facts) {
  if (NotJudgedFromHere(findings, kAgentCheck, facts)) {
    return;
  }
  if (facts.agents.empty() && MayBeResident(facts)) {
    findings.Add(kAgentCheck, Verdict::Warning, "agent-not-judged",
                 L"not judged: the process of a window bearing the agent's name cannot be looked at (see agent name)",
                 L"an agent started elevated, or another program: run velmorctl elevated to tell");
    return;
  }
  if (facts.agents.empty()) {
    findings.Add(kAgentCheck, Verdict::Problem, "agent-none", L"no agent is resident",
                 Cat({L"start it as the user as the autostart value does (", Quoted(AgentFolder(facts) + L"velmor.exe"),
                      L" 1) while velmorctl trace runs in another window: its lines say why it does not stay"}));
    return;
  }
  const ProcessFacts& agent = facts.agents.front();
  const std::wstring detail =
      Cat({L"resident, process ", Dec(agent.processId), L", version ",
           agent.fileVersion.empty() ? std::wstring_view(L"unknown") : agent.fileVersion, L", ", agent.image});
  if (!facts.firstAgentAnswers) {
    // Its service request is the one stretch in which a healthy agent pumps no messages for long.
    constexpr std::wstring_view kRetriesAndManagerWait =
        L" of retries while the service is not ready, and the service manager's wait for a service that does not "
        L"answer, ";
    const std::uint64_t boundMs = ServiceRequestBoundMs(facts);
    const std::wstring busy =
        Cat({L"an agent asking the service answers nothing for up to ", Seconds(boundMs), L" after its start (",
             Seconds(static_cast<std::uint64_t>(times::kServiceControlRetries) * times::kServiceControlRetryPauseMs),
             kRetriesAndManagerWait, PipeTimeoutText(facts), L")"});
    const std::wstring end = Cat({L"end it as a takeover would: ", EndProcessCommand(agent.processId),
                                  L", then start it as the user: ", Quoted(AgentFolder(facts) + L"velmor.exe"), L" 1"});
    Finding* finding = nullptr;
    if (agent.ageMs && *agent.ageMs > boundMs) {
      finding = &findings.Add(kAgentCheck, Verdict::Problem, "agent-hung",
                              Cat({detail, L"; it hangs: it did not answer within ", Dec(kAgentAnswerSeconds),
                                   L" seconds, ", Seconds(*agent.ageMs), L" after its start, and ", busy}),
                              end);
    } else {
      const std::wstring when =
          agent.ageMs ? Cat({L"in ", Seconds(boundMs - *agent.ageMs)}) : Cat({Seconds(boundMs), L" after its start"});
      finding = &findings.Add(kAgentCheck, Verdict::Warning, "agent-busy",
                              Cat({detail, L"; it did not answer within ", Dec(kAgentAnswerSeconds),
                                   L" seconds: it is busy or hangs; ", busy}),
                              Cat({L"run velmorctl doctor again ", when, L"; if it still does not answer, ", end}));
    }
    AddProcessFields(*finding, agent);
    if (agent.ageMs) {
      finding->fields.push_back(Number("ageSeconds", SecondsOf(*agent.ageMs)));
    }
    return;
  }
  const std::string_view own = VELMOR_VERSION_TEXT;
  if (!agent.fileVersion.empty() && agent.fileVersion != Wide(own)) {
    AddProcessFields(findings.Add(kAgentCheck, Verdict::Warning, "agent-other-version",
                                  Cat({detail, L"; this velmorctl ships with version ", Wide(own)}),
                                  Cat({L"an agent of another version still runs: velmorctl quit, then start the "
                                       L"installed one: ",
                                       Quoted(AgentFolder(facts) + L"velmor.exe"), L" 1"})),
                     agent);
    return;
  }
  AddProcessFields(findings.Add(kAgentCheck, Verdict::Ok, "agent-resident", detail), agent);
}

// A second agent waits for the product's window; when it was not there at its start, the takeover
// watchdog makes it take the resident agent's place once its interval has passed.
void CheckSecondAgents(Findings& findings, const DoctorFacts& facts) {
  if (NotJudgedFromHere(findings, kSecondAgentCheck, facts)) {
    return;
  }
  constexpr std::uint64_t kDueMs = times::kWatchdogIntervalMs;
  constexpr std::wstring_view kWaitsAndFallsDue =
      L" ago, waits for the product's window; if it was absent at its start, its takeover falls due in about ";
  const std::wstring waitsWithoutATakeover =
      Cat({L" ago, so the product's window was there at its start (it gives up after about ",
           Dec(static_cast<std::uint32_t>(times::kStandardAttemptLimit)), L" attempts) or it hangs"});
  for (const ProcessFacts& second : facts.waitingAgents) {
    const std::wstring who = Cat({L"process ", Dec(second.processId)});
    Finding* finding = nullptr;
    if (!second.ageMs) {
      finding = &findings.Add(
          kSecondAgentCheck, Verdict::Warning, "second-agent-waiting",
          Cat({who, L" waits for the product's window; if it was absent at its start, its takeover falls due ",
               Seconds(kDueMs), L" after its start: it makes the resident agent quit and stays in its place"}),
          L"nothing, if the product's window comes forward; velmorctl trace shows the takeover");
    } else if (*second.ageMs <= kDueMs) {
      finding = &findings.Add(
          kSecondAgentCheck, Verdict::Warning, "second-agent-waiting",
          Cat({who, L", started ", Seconds(*second.ageMs), kWaitsAndFallsDue, Seconds(kDueMs - *second.ageMs), L" (",
               Seconds(kDueMs), L" after its start): it makes the resident agent quit and stays in its place"}),
          L"nothing, if the product's window comes forward; velmorctl trace shows the takeover");
      finding->fields.push_back(Number("takeoverDueInSeconds", SecondsOf(kDueMs - *second.ageMs)));
    } else {
      finding = &findings.Add(
          kSecondAgentCheck, Verdict::Warning, "second-agent-overdue",
          Cat({who, L", started ", Seconds(*second.ageMs), L" ago, still waits: a takeover would have fallen due ",
               Seconds(*second.ageMs - kDueMs), waitsWithoutATakeover}),
          Cat({L"if it is still there in a minute, end it: ", EndProcessCommand(second.processId)}));
    }
    AddProcessFields(*finding, second);
    if (second.ageMs) {
      finding->fields.push_back(Number("ageSeconds", SecondsOf(*second.ageMs)));
    }
  }
  if (facts.waitingAgents.empty()) {
    findings.Add(kSecondAgentCheck, Verdict::Ok, "second-agent-none", L"none waits to take over");
  }
}

// A window of another program that bears the agent's name: the agents and velmorctl tell it from
// theirs, but a program that looks for the agent by its name alone finds it, and may find it first.
void CheckAgentName(Findings& findings, const DoctorFacts& facts) {
  if (NotJudgedFromHere(findings, kAgentNameCheck, facts)) {
    return;
  }
  std::wstring programs;
  std::wstring unknown;
  std::vector<const ProcessFacts*> named;
  for (const ProcessFacts& other : facts.nameBearers) {
    std::wstring& list = other.image.empty() ? unknown : programs;
    list += Cat({list.empty() ? L"" : L"; ", Describe(other)});
    if (!other.image.empty()) {
      named.push_back(&other);
    }
  }
  if (!programs.empty()) {
    Finding& finding = findings.Add(
        kAgentNameCheck, Verdict::Problem, "agent-name-borne-by-program",
        Cat({L"a window of another program bears it: ", programs}),
        Cat({L"end that program (", EndProcessCommand(named.front()->processId),
             L") and find what made it take the agent's name: tools that look for the agent by its name alone "
             L"reach it instead"}));
    AddProcessFields(finding, *named.front());
  } else if (!unknown.empty()) {
    findings.Add(kAgentNameCheck, Verdict::Warning, "agent-name-process-unreadable",
                 Cat({L"a window bears it whose process cannot be looked at: ", unknown}),
                 L"an agent started elevated, or another program: run velmorctl elevated to tell");
  } else {
    findings.Add(kAgentNameCheck, Verdict::Ok, "agent-name-agents-only",
                 !facts.agents.empty() ? L"borne by the agent's window alone" : L"borne by no window");
  }
}

std::wstring SquatterRemedy(std::string_view name) {
  return Cat({L"end the program that holds ", Quoted(Wide(name)), L" (Process Explorer: Find, Handle)"});
}

void CheckMarker(Findings& findings, const DoctorFacts& facts) {
  if (NotJudgedFromHere(findings, kMarkerCheck, facts)) {
    return;
  }
  const Win32Status error = facts.markerError;
  const bool exists = error == win32::kErrorSuccess || error == win32::kErrorAccessDenied;
  const std::wstring remedy = Cat({SquatterRemedy(peers::kInstanceMarkerName),
                                   L"; meanwhile each agent that starts takes itself for a second one"});
  if (error == win32::kErrorInvalidHandle) {
    findings.Add(kMarkerCheck, Verdict::Problem, "marker-other-object",
                 L"an object of another kind bears the marker's name", remedy);
  } else if (MayBeResident(facts) && exists) {
    findings.Add(kMarkerCheck, Verdict::Ok, "marker-held",
                 error == win32::kErrorSuccess ? L"held while the agent is resident"
                                               : L"held, with rights velmorctl lacks, while the agent is resident");
  } else if (exists && !facts.waitingAgents.empty()) {
    findings.Add(kMarkerCheck, Verdict::Ok, "marker-held",
                 L"held while no agent is resident, by the second agent that waits (see second agent)");
  } else if (exists) {
    findings.Add(kMarkerCheck, Verdict::Problem, "marker-squatted",
                 L"exists while no agent is resident: a program squats it, or an agent is starting", remedy);
  } else if (error == win32::kErrorFileNotFound) {
    if (MayBeResident(facts)) {
      findings.Add(kMarkerCheck, Verdict::Warning, "marker-absent-with-agent", L"absent although an agent is resident",
                   Cat({L"velmorctl quit, then start the agent as the user: ",
                        Quoted(AgentFolder(facts) + L"velmor.exe"), L" 1"}));
    } else {
      findings.Add(kMarkerCheck, Verdict::Ok, "marker-absent", L"absent, as no agent runs");
    }
  } else {
    findings.Add(kMarkerCheck, Verdict::Warning, "marker-unreadable",
                 Cat({L"cannot be looked at (", ErrorText(error), L")"}), L"run velmorctl as the user");
  }
}

// The residence lock. Only an agent that may stay resident takes it; one that finds it held by a
// program while no agent answers stays all the same, so that no program switches the agent off.
void CheckResidenceLock(Findings& findings, const DoctorFacts& facts) {
  if (NotJudgedFromHere(findings, kLockCheck, facts)) {
    return;
  }
  const Win32Status error = facts.lockError;
  const std::wstring remedy = SquatterRemedy(peers::kResidenceLockName);
  const std::wstring restart =
      Cat({L"velmorctl quit, then start the agent as the user: ", Quoted(AgentFolder(facts) + L"velmor.exe"), L" 1"});
  // Whether the agent runs elevated, as it judges its own reach; unknown when its token cannot be read.
  const bool elevationKnown = !facts.agents.empty() && facts.agents.front().elevated.has_value();
  const bool elevated = elevationKnown && facts.agents.front().elevated.value_or(false);
  if (error == win32::kErrorInvalidHandle) {
    findings.Add(kLockCheck, Verdict::Warning, "lock-other-object",
                 L"an object of another kind bears the lock's name: an agent that starts stays without the lock, "
                 L"so that a second one may stay beside it",
                 remedy);
    return;
  }
  if (error != win32::kErrorSuccess && error != win32::kErrorAccessDenied && error != win32::kErrorFileNotFound) {
    findings.Add(kLockCheck, Verdict::Warning, "lock-unreadable",
                 Cat({L"cannot be looked at (", ErrorText(error), L")"}), L"run velmorctl as the user");
    return;
  }
  const LockState state = error == win32::kErrorFileNotFound ? LockState::Free : facts.lockState;
  const std::wstring_view absentOrFree = error == win32::kErrorFileNotFound ? L"absent" : L"free";
  if (MayBeResident(facts)) {
    if (state == LockState::Held || (state == LockState::Unknown && error != win32::kErrorFileNotFound)) {
      findings.Add(kLockCheck, Verdict::Ok, "lock-held", L"held while the agent is resident");
    } else if (elevationKnown && elevated) {
      findings.Add(kLockCheck, Verdict::Warning, "lock-free-agent-elevated",
                   Cat({absentOrFree,
                        L" although an agent is resident: the agent runs elevated, takes no lock and "
                        L"will not stay"}),
                   restart);
    } else if (elevationKnown && error == win32::kErrorFileNotFound) {
      findings.Add(kLockCheck, Verdict::Warning, "lock-absent-agent-without-lock",
                   L"absent although an agent is resident, not elevated: an agent of a version without the lock",
                   restart);
    } else if (elevationKnown) {
      findings.Add(kLockCheck, Verdict::Warning, "lock-free-agent-stays-without",
                   L"free although an agent is resident, not elevated: it stays without the lock, which a program "
                   L"held when it started; a successor may then stay beside it",
                   restart);
    } else {
      findings.Add(kLockCheck, Verdict::Warning, "lock-free-agent-unknown",
                   Cat({absentOrFree, L" although an agent is resident; whether it runs elevated cannot be read"}),
                   Cat({L"run velmorctl elevated to tell; ", restart}));
    }
    return;
  }
  if (error == win32::kErrorFileNotFound) {
    findings.Add(kLockCheck, Verdict::Ok, "lock-absent", L"absent, as no agent runs");
    return;
  }
  switch (state) {
    case LockState::Held:
      findings.Add(kLockCheck, Verdict::Warning, "lock-held-by-program",
                   L"held by a program while no agent answers: it switches no agent off (an agent that starts stays "
                   L"without it), but a second one may then stay beside it",
                   remedy);
      return;
    case LockState::Unknown:
      findings.Add(kLockCheck, Verdict::Warning, "lock-state-unknown",
                   L"exists while no agent answers; whether it is held cannot be read here",
                   Cat({remedy, L", if one does"}));
      return;
    case LockState::Free:
      findings.Add(kLockCheck, Verdict::Ok, "lock-free", L"free (a program holds it open without owning it)");
      return;
  }
}

// --- The product -----------------------------------------------------------------------------

std::wstring StartTypeName(std::uint32_t startType) {
  switch (startType) {
    case kAutoStart:
      return L"auto";
    case kDemandStart:
      return L"demand";
    case kDisabled:
      return L"disabled";
    default:
      return Cat({L"start type ", Dec(startType)});
  }
}

std::wstring StateName(std::uint32_t state) {
  constexpr std::array<std::wstring_view, 8> kNames = {L"unknown",       L"stopped", L"start-pending",
                                                       L"stop-pending",  L"running", L"continue-pending",
                                                       L"pause-pending", L"paused"};
  return state < kNames.size() ? std::wstring(kNames[state]) : Cat({L"state ", Dec(state)});
}

void CheckService(Findings& findings, const DoctorFacts& facts) {
  const ServiceFacts& service = facts.service;
  const std::wstring name = Wide(peers::kProductServiceName);
  if (service.managerError != win32::kErrorSuccess) {
    findings.Add(kServiceCheck, Verdict::Warning, "service-manager-unopened",
                 Cat({L"the service manager cannot be opened (", ErrorText(service.managerError), L")"}),
                 L"run velmorctl as the user on the user's desktop");
    return;
  }
  if (service.openError == win32::kErrorServiceDoesNotExist) {
    findings.Add(kServiceCheck, Verdict::Problem, "service-not-installed",
                 Cat({name, L" is not installed: the agent cannot ask it to bring the product up"}),
                 L"reinstall the product Tessaly, whose installer installs its service (the package \"Tessaly "
                 L"desktop agent\" does not)");
    return;
  }
  if (service.openError != win32::kErrorSuccess || service.queryError != win32::kErrorSuccess) {
    const Win32Status error = service.openError != win32::kErrorSuccess ? service.openError : service.queryError;
    findings.Add(kServiceCheck, Verdict::Warning, "service-unreadable",
                 Cat({name, L" cannot be queried (", ErrorText(error), L")"}), Cat({L"sc query ", name}));
    return;
  }
  const auto withState = [&service](Finding& finding) {
    finding.fields.push_back(Text("serviceState", StateName(service.state)));
    if (service.startType) {
      finding.fields.push_back(Text("startType", StartTypeName(*service.startType)));
    }
  };
  const std::wstring startType =
      service.startType ? Cat({L", start type ", StartTypeName(*service.startType)}) : std::wstring();
  if (service.requestError == win32::kErrorAccessDenied) {
    withState(
        findings.Add(kServiceCheck, Verdict::Problem, "service-request-refused",
                     Cat({name, L" refuses this user the agent's request (", ErrorText(service.requestError), L")"}),
                     L"reinstall the product Tessaly, whose installer grants users that right"));
    return;
  }
  switch (service.state) {
    case kServiceRunning:
      withState(findings.Add(kServiceCheck, Verdict::Ok, "service-running", Cat({name, L" running", startType})));
      return;
    case kServiceStopped: {
      std::wstring remedy;
      if (service.startType == kAutoStart) {
        remedy = Cat({L"elevated: sc start ", name,
                      L"; if it does not start, look in the Event Viewer (Windows Logs, "
                      L"System)"});
      } else {
        remedy = Cat({L"elevated: sc config ", name, L" start= auto, then sc start ", name,
                      L"; if it does not start, look in the Event Viewer (Windows Logs, System)"});
      }
      withState(findings.Add(
          kServiceCheck, Verdict::Problem, service.startType == kDisabled ? "service-disabled" : "service-stopped",
          Cat({name, L" is stopped", startType, L": the agent's request fails after about ",
               Seconds(static_cast<std::uint64_t>(times::kServiceControlRetries) * times::kServiceControlRetryPauseMs),
               L", and it says so"}),
          std::move(remedy)));
      return;
    }
    default:
      withState(findings.Add(kServiceCheck, Verdict::Warning, "service-pending",
                             Cat({name, L" is neither running nor stopped (", StateName(service.state), L")"}),
                             Cat({L"run velmorctl doctor again in a minute; sc query ", name})));
      return;
  }
}

void CheckProductWindow(Findings& findings, const DoctorFacts& facts) {
  const ProductWindowFacts& window = facts.productWindow;
  if (!window.present) {
    if (facts.interactive) {
      findings.Add(kProductWindowCheck, Verdict::Warning, "product-window-absent",
                   L"absent: the product is not running", L"start the product; at logon the agent asks its service to");
    } else {
      findings.Add(kProductWindowCheck, Verdict::Warning, "not-judged-from-here",
                   L"not seen: this window station shows none of the user's windows",
                   L"run velmorctl doctor in the user's session, as the user");
    }
    return;
  }
  const std::wstring_view shown = window.visible ? L"visible" : L"hidden (in the notification area)";
  if (!window.answers) {
    AddProcessFields(
        findings.Add(kProductWindowCheck, Verdict::Problem, "product-window-not-answering",
                     Cat({shown, L", and not answering within ", Dec(times::kProductAnswerTimeoutMs),
                          L" ms, as the agent asks it: the agent counts it as not shown and cannot bring it forward"}),
                     Cat({L"the product hangs: end it (", EndProcessCommand(window.process.processId),
                          L") and start it again"})),
        window.process);
    return;
  }
  AddProcessFields(
      findings.Add(kProductWindowCheck, Verdict::Ok,
                   window.visible ? "product-window-visible" : "product-window-hidden", std::wstring(shown)),
      window.process);
}

void CheckOtherVersion(Findings& findings, const DoctorFacts& facts) {
  if (facts.otherVersionRunning) {  // as the agent's install-time start sees it
    std::wstring markers;
    for (const std::string_view marker : peers::kOtherVersionMarkers) {
      markers += Cat({markers.empty() ? L"" : L" or ", Quoted(Wide(marker))});
    }
    findings.Add(kOtherVersionCheck, Verdict::Warning, "other-version-running",
                 Cat({L"another product version runs (a marker of one, ", markers,
                      L", exists): an install-time start asks to restart the computer"}),
                 L"close the other version, or restart, before installing");
    return;
  }
  findings.Add(kOtherVersionCheck, Verdict::Ok, "other-version-none", L"none runs");
}

// --- The system and velmorctl's own view -----------------------------------------------------

bool OlderThanTheGate(std::uint32_t major, std::uint32_t minor) {
  return major < kOldestSupportedMajor || (major == kOldestSupportedMajor && minor < kOldestSupportedMinor);
}

std::wstring GateText() {
  return Cat({Dec(kOldestSupportedMajor), L".", Dec(kOldestSupportedMinor), L" (Windows 8.1)"});
}

void CheckWindowsVersion(Findings& findings, const DoctorFacts& facts) {
  if (!facts.windowsMajor) {
    findings.Add(kWindowsVersionCheck, Verdict::Warning, "windows-version-unread", L"cannot be read", L"winver");
    return;
  }
  const std::wstring version =
      Cat({Dec(*facts.windowsMajor), L".", Dec(facts.windowsMinor), L".", Dec(facts.windowsBuild)});
  if (OlderThanTheGate(*facts.windowsMajor, facts.windowsMinor)) {
    findings
        .Add(kWindowsVersionCheck, Verdict::Problem, "windows-version-too-old",
             Cat({version, L", older than ", GateText(), L": the agent says the system is not supported and ends"}),
             L"use Windows 8.1 or later")
        .fields.push_back(Text("version", version));
    return;
  }
  findings
      .Add(kWindowsVersionCheck, Verdict::Ok, "windows-version-supported", Cat({version, L", at least ", GateText()}))
      .fields.push_back(Text("version", version));
}

// The compatibility layers that make Windows report an older version to the program they are set on,
// and the version each reports.
struct OlderWindowsLayer {
  std::string_view name;
  std::uint32_t major;
  std::uint32_t minor;
};
constexpr std::array kOlderWindowsLayers = {
    OlderWindowsLayer{"WIN95", 4, 0},    OlderWindowsLayer{"WIN98", 4, 10},      OlderWindowsLayer{"NT4SP5", 4, 0},
    OlderWindowsLayer{"WIN2000", 5, 0},  OlderWindowsLayer{"WINXP", 5, 1},       OlderWindowsLayer{"WINXPSP2", 5, 1},
    OlderWindowsLayer{"WINXPSP3", 5, 1}, OlderWindowsLayer{"WINSRV03SP1", 5, 2}, OlderWindowsLayer{"VISTARTM", 6, 0},
    OlderWindowsLayer{"VISTASP1", 6, 0}, OlderWindowsLayer{"VISTASP2", 6, 0},    OlderWindowsLayer{"WINSRV08SP1", 6, 0},
    OlderWindowsLayer{"WIN7RTM", 6, 1},  OlderWindowsLayer{"WIN7SP1", 6, 1},     OlderWindowsLayer{"WIN8RTM", 6, 2},
    OlderWindowsLayer{"WIN81RTM", 6, 3},
};

// The first layer of the value that names an older Windows than the agent's gate; nothing when none.
std::optional<OlderWindowsLayer> OlderWindowsIn(std::wstring_view layers) {
  std::size_t start = 0;
  while (start < layers.size()) {
    std::size_t end = layers.find(L' ', start);
    end = end == std::wstring_view::npos ? layers.size() : end;
    const std::wstring_view token = layers.substr(start, end - start);
    const auto* const layer =
        std::find_if(kOlderWindowsLayers.begin(), kOlderWindowsLayers.end(), [token](const OlderWindowsLayer& named) {
          return EqualsIgnoringAsciiCase(token, named.name) && OlderThanTheGate(named.major, named.minor);
        });
    if (layer != kOlderWindowsLayers.end()) {
      return *layer;
    }
    start = end + 1;
  }
  return std::nullopt;
}

void CheckCompatibilityLayers(Findings& findings, const DoctorFacts& facts) {
  constexpr std::wstring_view kLayersKey = L"\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
  bool older = false;
  std::wstring others;
  for (const CompatibilityLayerFacts& set : facts.compatibilityLayers) {
    const std::optional<OlderWindowsLayer> layer = OlderWindowsIn(set.layers);
    if (!layer) {
      others += Cat({others.empty() ? L"" : L"; ", set.hive, L" ", Quoted(set.layers), L" on ", set.path});
      continue;
    }
    older = true;
    const bool machine = set.hive.starts_with(L"HKLM");
    const std::wstring view = set.hive == L"HKLM (32-bit view)" ? L" /reg:32" : machine ? L" /reg:64" : L"";
    Finding& finding = findings.Add(
        kCompatibilityCheck, Verdict::Problem, "compatibility-layer-older-windows",
        Cat({L"the compatibility mode ", Wide(layer->name), L" set on ", set.path, L" (", set.hive,
             L") makes Windows report ", Dec(layer->major), L".", Dec(layer->minor), L" to the agent, older than ",
             GateText(), L": it says the system is not supported and ends"}),
        Cat({machine ? L"elevated: " : L"", L"reg delete \"", machine ? L"HKLM" : L"HKCU", kLayersKey, L"\" /v \"",
             set.path, L"\"", view, L" /f (or the file's Properties, Compatibility: clear the compatibility mode",
             machine ? L", under \"Change settings for all users\")" : L")"}));
    finding.fields.push_back(Text("hive", set.hive));
    finding.fields.push_back(Text("path", set.path));
    finding.fields.push_back(Text("valueText", set.layers));
  }
  if (older) {
    return;
  }
  findings.Add(
      kCompatibilityCheck, Verdict::Ok, "compatibility-mode-none",
      others.empty() ? std::wstring(L"none set on velmor.exe") : Cat({L"none names an older Windows: ", others}));
}

void CheckRights(Findings& findings, const DoctorFacts& facts) {
  if (facts.velmorctlElevated) {
    findings.Add(kRightsCheck, Verdict::Ok, "rights-elevated",
                 L"velmorctl runs elevated: it sees what an administrator sees, and the service line tells an "
                 L"administrator's rights, not the user's");
  } else {
    findings.Add(kRightsCheck, Verdict::Ok, "rights-user",
                 L"velmorctl runs with the user's rights, as the agent at logon");
  }
}

void CheckWindowStation(Findings& findings, const DoctorFacts& facts) {
  if (facts.interactive) {
    findings.Add(kWindowStationCheck, Verdict::Ok, "window-station-interactive",
                 L"interactive: the user's windows can be seen");
    return;
  }
  findings.Add(kWindowStationCheck, Verdict::Warning, "window-station-not-interactive",
               L"not interactive (a service's, or session 0): the agent's and the product's windows and the user's "
               L"session's objects cannot be seen from here",
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
      break;
  }
  return L"problem";
}

std::uint32_t Count(const std::vector<Finding>& findings, Verdict verdict) {
  return static_cast<std::uint32_t>(std::count_if(
      findings.begin(), findings.end(), [verdict](const Finding& finding) { return finding.verdict == verdict; }));
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
      json += kHex[(static_cast<unsigned>(c) >> 4U) & 0xFU];
      json += kHex[static_cast<unsigned>(c) & 0xFU];
    } else {
      json += c;
    }
  }
  return json + L"\"";
}

}  // namespace

std::vector<Finding> JudgeDesktop(const DoctorFacts& facts) {
  Findings findings;
  CheckAutostart(findings, facts);
  CheckStartupSwitch(findings, facts);
  CheckAgent(findings, facts);
  CheckSecondAgents(findings, facts);
  CheckAgentName(findings, facts);
  CheckMarker(findings, facts);
  CheckResidenceLock(findings, facts);
  CheckService(findings, facts);
  CheckProductWindow(findings, facts);
  CheckOtherVersion(findings, facts);
  CheckWindowsVersion(findings, facts);
  CheckCompatibilityLayers(findings, facts);
  CheckRights(findings, facts);
  CheckWindowStation(findings, facts);
  return findings.Take();
}

bool Healthy(const std::vector<Finding>& findings) {
  return Count(findings, Verdict::Problem) == 0;
}

std::wstring TextReport(const std::vector<Finding>& findings) {
  constexpr std::size_t kColumn = 9;  // "problem" and two spaces
  std::wstring text;
  for (const Finding& finding : findings) {
    const std::wstring_view verdict = VerdictName(finding.verdict);
    text += Cat({verdict, std::wstring(kColumn - verdict.size(), L' '), finding.check, L": ", finding.detail, L"\n"});
    if (!finding.remedy.empty()) {
      text += Cat({std::wstring(kColumn, L' '), L"remedy: ", finding.remedy, L"\n"});
    }
  }
  const std::uint32_t problems = Count(findings, Verdict::Problem);
  const std::uint32_t warnings = Count(findings, Verdict::Warning);
  text += problems == 0 ? std::wstring(L"healthy") : Cat({Dec(problems), problems == 1 ? L" problem" : L" problems"});
  text += Cat({L", ", Dec(warnings), warnings == 1 ? L" warning\n" : L" warnings\n"});
  return text;
}

std::wstring JsonReport(const std::vector<Finding>& findings) {
  const std::uint32_t problems = Count(findings, Verdict::Problem);
  std::wstring json = Cat({L"{\"schemaVersion\": ", Dec(kDoctorSchemaVersion), L", \"healthy\": ",
                           problems == 0 ? L"true" : L"false", L", \"problems\": ", Dec(problems), L", \"warnings\": ",
                           Dec(Count(findings, Verdict::Warning)), L", \"checks\": ["});
  bool first = true;
  for (const Finding& finding : findings) {
    json += first ? L"\n  " : L",\n  ";
    first = false;
    json +=
        Cat({L"{\"check\": ", JsonString(finding.check), L", \"status\": ", JsonString(VerdictName(finding.verdict)),
             L", \"reason\": ", JsonString(Wide(finding.reason)), L", \"detail\": ", JsonString(finding.detail)});
    if (!finding.remedy.empty()) {
      json += Cat({L", \"remedy\": ", JsonString(finding.remedy)});
    }
    for (const FindingField& field : finding.fields) {
      json +=
          Cat({L", ", JsonString(Wide(field.name)), L": ", field.number ? Dec(*field.number) : JsonString(field.text)});
    }
    json += L"}";
  }
  return json + L"\n]}\n";
}

std::wstring JsonUsageError(std::wstring_view message) {
  return Cat({L"{\"schemaVersion\": ", Dec(kDoctorSchemaVersion), L", \"error\": \"usage\", \"message\": ",
              JsonString(message), L"}\n"});
}

}  // namespace velmor::ctl
