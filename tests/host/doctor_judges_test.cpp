// velmorctl doctor's judges over desktops written down as facts: a healthy one, then one broken a
// single way per row, each with the verdict, reason code and words its check must give; and the
// JSON report that scripts read.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "VelmorVersion.h"
#include "peers/AgentTimes.h"
#include "tools/velmorctl/DoctorJudges.h"

namespace velmor::ctl {
namespace {

const std::wstring kFolder = L"C:\\Program Files (x86)\\Tessaly\\Agent\\";
const std::wstring kAgentPath = kFolder + L"velmor.exe";
constexpr std::uint32_t kAgentId = 344;
constexpr std::uint32_t kProductId = 500;

std::wstring Wide(std::string_view text) {
  return {text.begin(), text.end()};
}

std::string Narrow(std::wstring_view text) {
  std::string narrow;
  for (const wchar_t c : text) {
    narrow += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return narrow;
}

DoctorFacts HealthyDesktop() {
  DoctorFacts facts;
  facts.agentFolder = kFolder;
  facts.autostart.status = win32::kErrorSuccess;
  facts.autostart.type = win32::kRegSz;
  facts.autostart.text = L"\"" + kAgentPath + L"\" 1";
  facts.autostart.size = static_cast<std::uint32_t>((facts.autostart.text.size() + 1) * 2);
  facts.commandLine = facts.autostart.text;
  facts.startupSwitches = {{L"HKCU", {}}, {L"HKLM", {}}};
  ProcessFacts agent;
  agent.processId = kAgentId;
  agent.image = kAgentPath;
  agent.fileVersion = Wide(VELMOR_VERSION_TEXT);
  agent.ageMs = 600000;
  agent.elevated = false;
  facts.agents = {agent};
  facts.firstAgentAnswers = true;
  facts.markerError = win32::kErrorSuccess;
  facts.lockError = win32::kErrorSuccess;
  facts.lockState = LockState::Held;
  facts.service.state = 4;      // running
  facts.service.startType = 2;  // auto
  facts.productWindow.present = true;
  facts.productWindow.visible = true;
  facts.productWindow.process.processId = kProductId;
  facts.productWindow.process.image = L"C:\\Program Files (x86)\\Tessaly\\tessaly.exe";
  facts.windowsMajor = 10;
  facts.windowsBuild = 19045;
  return facts;
}

const Finding* FindingOf(const std::vector<Finding>& findings, std::wstring_view check) {
  for (const Finding& finding : findings) {
    if (finding.check == check) {
      return &finding;
    }
  }
  return nullptr;
}

std::vector<std::uint8_t> SwitchBytes(std::uint8_t first) {
  std::vector<std::uint8_t> bytes(12, 0);
  bytes.front() = first;
  return bytes;
}

// The takeover watchdog in whole seconds, as doctor speaks of it.
constexpr std::uint32_t kWatchdogS = times::kWatchdogIntervalMs / 1000;

struct Desktop {
  const char* what;
  std::function<void(DoctorFacts&)> make;
  struct {
    std::wstring check;
    Verdict verdict;
    std::string reason;
  } expected;                             // the finding's check, verdict and reason code
  std::vector<std::wstring> words;        // each in the detail or the remedy
  std::vector<std::wstring> absent = {};  // none of them there
};

TEST(DoctorJudgesTest, EachDesktopGetsItsCheckVerdictReasonAndARemedyThatWorks) {
  {
    SCOPED_TRACE("healthy");
    const std::vector<Finding> findings = JudgeDesktop(HealthyDesktop());
    for (const Finding& finding : findings) {
      EXPECT_EQ(finding.verdict, Verdict::Ok) << Narrow(finding.check) << ": " << Narrow(finding.detail);
      EXPECT_TRUE(finding.remedy.empty()) << Narrow(finding.check);
    }
    EXPECT_TRUE(Healthy(findings));
    EXPECT_TRUE(TextReport(findings).ends_with(L"\nhealthy, 0 warnings\n"));
  }
  const std::wstring layersKey = L"\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
  const std::wstring run32 = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run32";
  const std::vector<Desktop> desktops = {
      // What Windows itself reports to the agent and what it switched off.
      {"a compatibility mode naming Windows 7 on the agent, for this user",
       [](DoctorFacts& f) {
         f.compatibilityLayers = {{L"HKCU", kAgentPath, L"~ WIN7RTM"}};
       },
       {L"compatibility mode", Verdict::Problem, "compatibility-layer-older-windows"},
       {L"WIN7RTM", L"report 6.1", L"reg delete \"HKCU" + layersKey + L"\" /v \"" + kAgentPath + L"\" /f"}},
      {"a compatibility mode naming Windows XP for all users",
       [](DoctorFacts& f) {
         f.compatibilityLayers = {{L"HKLM", kAgentPath, L"$ WINXPSP3 RUNASINVOKER"}};
       },
       {L"compatibility mode", Verdict::Problem, "compatibility-layer-older-windows"},
       {L"WINXPSP3", L"elevated: reg delete \"HKLM" + layersKey + L"\" /v \"" + kAgentPath + L"\" /reg:64 /f"}},
      {"layers that name no older Windows than the gate",
       [](DoctorFacts& f) {
         f.compatibilityLayers = {{L"HKCU", kAgentPath, L"~ HIGHDPIAWARE WIN81RTM"}};
       },
       {L"compatibility mode", Verdict::Ok, "compatibility-mode-none"},
       {L"HIGHDPIAWARE WIN81RTM"}},
      {"the entry switched off in Task Manager, for this user",
       [](DoctorFacts& f) {
         f.startupSwitches[0].value = {win32::kErrorSuccess, 3, 12, {}, SwitchBytes(3)};
       },
       {L"startup switch", Verdict::Problem, "startup-switch-off"},
       {L"first byte 3", L"Task Manager, Startup", L"reg delete \"HKCU" + run32 + L"\" /v Tessaly /f"}},
      {"the entry switched off for all users",
       [](DoctorFacts& f) {
         f.startupSwitches[1].value = {win32::kErrorSuccess, 3, 12, {}, SwitchBytes(1)};
       },
       {L"startup switch", Verdict::Problem, "startup-switch-off"},
       {L"first byte 1", L"elevated: reg delete \"HKLM" + run32 + L"\" /v Tessaly /f /reg:64"}},
      {"the entry switched on again (6) and recorded on (2)",
       [](DoctorFacts& f) {
         f.startupSwitches[0].value = {win32::kErrorSuccess, 3, 12, {}, SwitchBytes(6)};
         f.startupSwitches[1].value = {win32::kErrorSuccess, 3, 12, {}, SwitchBytes(2)};
       },
       {L"startup switch", Verdict::Ok, "startup-switch-on"},
       {L"HKCU first byte 6", L"HKLM first byte 2"}},
      // The autostart value as the agent reads it, and as Windows runs it.
      {"a 1 MB REG_SZ value",
       [](DoctorFacts& f) {
         f.autostart = {win32::kErrorMoreData, win32::kRegSz, 1048576, {}, {}};
         f.commandLine.clear();
       },
       {L"autostart value", Verdict::Problem, "autostart-value-too-long"},
       {L"1048576 bytes", L"32767",
        L"reg add \"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\" /v Tessaly "
        L"/t REG_SZ /d \"\\\"" +
            kFolder + L"velmor.exe\\\" 1\" /reg:32 /f"}},
      {"a REG_EXPAND_SZ value of 40,000 characters",
       [](DoctorFacts& f) {
         f.autostart = {win32::kErrorMoreData, win32::kRegExpandSz, 80002, {}, {}};
         f.commandLine.clear();
       },
       {L"autostart value", Verdict::Problem, "autostart-value-too-long"},
       {L"80002 bytes"}},
      {"a REG_EXPAND_SZ value that expands beyond any command line",
       [](DoctorFacts& f) {
         f.autostart.type = win32::kRegExpandSz;
         f.autostart.text = L"%P%%P%\"" + kAgentPath + L"\" 1";
         f.commandLine = std::wstring(40000, L'x') + L"\"" + kAgentPath + L"\" 1";
       },
       {L"autostart value", Verdict::Problem, "autostart-command-line-too-long"},
       {L"expands to 40051", L"Windows cannot run it"}},
      {"a value of type REG_DWORD",
       [](DoctorFacts& f) {
         f.autostart = {win32::kErrorInvalidData, 4, 4, {}, {}};
       },
       {L"autostart value", Verdict::Problem, "autostart-value-not-string"},
       {L"of type REG_DWORD", L"/t REG_SZ"},
       {L"type 4"}},
      {"no value, and one in the 64-bit view",
       [](DoctorFacts& f) {
         f.autostart = {};
         f.autostartIn64BitView = true;
       },
       {L"autostart value", Verdict::Problem, "autostart-value-missing"},
       {L"the 64-bit view holds one", kFolder + L"velmor.exe\\\" 1\" /reg:32 /f",
        L"reg delete \"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\" /v Tessaly /reg:64 /f"}},
      {"a value pointing at a folder the agent no longer lies in",
       [](DoctorFacts& f) {
         f.autostart.text = L"\"C:\\Old\\velmor.exe\" 1";
         f.commandLine = f.autostart.text;
         f.autostartTargetError = win32::kErrorFileNotFound;
       },
       {L"autostart path", Verdict::Problem, "autostart-path-missing"},
       {L"does not exist (error 2)", L"/d \"\\\"" + kFolder + L"velmor.exe\\\" 1\""}},
      // The agent that hangs, and the one that is only busy with the service.
      {"an agent held by a service whose handler never returns",
       [](DoctorFacts& f) {
         f.firstAgentAnswers = false;
         f.agents[0].ageMs = 5000;
       },
       {L"agent", Verdict::Warning, "agent-busy"},
       {L"up to 50 s after its start", L"20 s of retries", L"30 s (Windows' default", L"again in 45 s",
        L"taskkill /pid 344 /f"},
       {L"velmorctl quit"}},
      {"the same under Wine, whose service manager waits 10 s",
       [](DoctorFacts& f) {
         f.firstAgentAnswers = false;
         f.agents[0].ageMs = 5000;
         f.service.underWine = true;
       },
       {L"agent", Verdict::Warning, "agent-busy"},
       {L"up to 30 s after its start", L"10 s (Wine's"}},
      {"the same where ServicesPipeTimeout is raised to two minutes",
       [](DoctorFacts& f) {
         f.firstAgentAnswers = false;
         f.agents[0].ageMs = 5000;
         f.service.pipeTimeoutMs = 120000;
       },
       {L"agent", Verdict::Warning, "agent-busy"},
       {L"up to 140 s after its start", L"120 s (ServicesPipeTimeout)"}},
      {"a hung agent",
       [](DoctorFacts& f) { f.firstAgentAnswers = false; },
       {L"agent", Verdict::Problem, "agent-hung"},
       {L"it hangs", L"600 s after its start", L"taskkill /pid 344 /f", L"\"" + kAgentPath + L"\" 1"},
       {L"velmorctl quit"}},
      // The product window that does not answer the agent.
      {"a hung product window",
       [](DoctorFacts& f) { f.productWindow.answers = false; },
       {L"product window", Verdict::Problem, "product-window-not-answering"},
       {L"not answering within 200 ms", L"taskkill /pid 500 /f"}},
      // The residence lock.
      {"a free lock while an agent of the user's rights is resident",
       [](DoctorFacts& f) { f.lockState = LockState::Free; },
       {L"residence lock", Verdict::Warning, "lock-free-agent-stays-without"},
       {L"not elevated", L"stays without the lock"},
       {L"will not stay"}},
      {"a free lock while an elevated agent is resident",
       [](DoctorFacts& f) {
         f.lockState = LockState::Free;
         f.agents[0].elevated = true;
       },
       {L"residence lock", Verdict::Warning, "lock-free-agent-elevated"},
       {L"runs elevated", L"will not stay"}},
      {"a free lock while an agent whose token cannot be read is resident",
       [](DoctorFacts& f) {
         f.lockState = LockState::Free;
         f.agents[0].elevated.reset();
       },
       {L"residence lock", Verdict::Warning, "lock-free-agent-unknown"},
       {L"cannot be read"}},
      {"a lock held by a program while no agent runs",
       [](DoctorFacts& f) {
         f.agents.clear();
         f.markerError = win32::kErrorFileNotFound;
       },
       {L"residence lock", Verdict::Warning, "lock-held-by-program"},
       {L"switches no agent off", L"end the program that holds \"ls9wk23mkjsuui345j.resident\""}},
      // A second agent waiting to take over.
      {"a second agent 4 s into its wait",
       [](DoctorFacts& f) {
         ProcessFacts second;
         second.processId = 612;
         second.image = kAgentPath;
         second.ageMs = 4000;
         f.waitingAgents = {second};
       },
       {L"second agent", Verdict::Warning, "second-agent-waiting"},
       {L"process 612", L"falls due in about " + std::to_wstring(kWatchdogS - 4) + L" s",
        std::to_wstring(kWatchdogS) + L" s after its start"}},
      {"a second agent long past its takeover",
       [](DoctorFacts& f) {
         ProcessFacts second;
         second.processId = 612;
         second.ageMs = times::kWatchdogIntervalMs + 65000;
         f.waitingAgents = {second};
       },
       {L"second agent", Verdict::Warning, "second-agent-overdue"},
       {L"65 s ago", L"taskkill /pid 612 /f"}},
      // The service, with its start type known before sc config is suggested.
      {"a stopped service that starts on demand",
       [](DoctorFacts& f) {
         f.service.state = 1;
         f.service.startType = 3;
       },
       {L"service", Verdict::Problem, "service-stopped"},
       {L"start type demand", L"sc config tsysrv start= auto, then sc start tsysrv"}},
      {"a stopped service that starts automatically",
       [](DoctorFacts& f) { f.service.state = 1; },
       {L"service", Verdict::Problem, "service-stopped"},
       {L"start type auto", L"elevated: sc start tsysrv"},
       {L"sc config"}},
      {"a disabled service",
       [](DoctorFacts& f) {
         f.service.state = 1;
         f.service.startType = 4;
       },
       {L"service", Verdict::Problem, "service-disabled"},
       {L"start type disabled", L"sc config tsysrv start= auto"}},
      {"no service",
       [](DoctorFacts& f) { f.service.openError = win32::kErrorServiceDoesNotExist; },
       {L"service", Verdict::Problem, "service-not-installed"},
       {L"reinstall the product Tessaly"}},
  };
  for (const Desktop& desktop : desktops) {
    SCOPED_TRACE(desktop.what);
    DoctorFacts facts = HealthyDesktop();
    desktop.make(facts);
    const std::vector<Finding> findings = JudgeDesktop(facts);
    const Finding* finding = FindingOf(findings, desktop.expected.check);
    ASSERT_NE(finding, nullptr) << Narrow(desktop.expected.check);
    EXPECT_EQ(finding->verdict, desktop.expected.verdict) << Narrow(finding->detail);
    EXPECT_EQ(finding->reason, desktop.expected.reason);
    const std::wstring said = finding->detail + L"\n" + finding->remedy;
    for (const std::wstring& words : desktop.words) {
      EXPECT_NE(said.find(words), std::wstring::npos) << Narrow(words) << " not in:\n" << Narrow(said);
    }
    for (const std::wstring& words : desktop.absent) {
      EXPECT_EQ(said.find(words), std::wstring::npos) << Narrow(words) << " in:\n" << Narrow(said);
    }
    EXPECT_EQ(finding->remedy.empty(), desktop.expected.verdict == Verdict::Ok) << Narrow(said);
    if (desktop.expected.verdict == Verdict::Problem) {
      EXPECT_FALSE(Healthy(findings));  // velmorctl exits with 1
    }
  }
}

// The JSON a script reads: the schema's version, a reason per check, the facts that the text gives
// only in prose, and a usage error in JSON too.
TEST(DoctorJudgesTest, JsonReportCarriesTheSchemaReasonsAndFacts) {
  DoctorFacts facts = HealthyDesktop();
  facts.service.state = 1;
  facts.autostart.text = L"\"" + kAgentPath + L"\" 1\t\"";
  facts.commandLine = facts.autostart.text;
  const std::string json = Narrow(JsonReport(JudgeDesktop(facts)));
  EXPECT_EQ(
      json.rfind("{\"schemaVersion\": 2, \"healthy\": false, \"problems\": 1, \"warnings\": 0, \"checks\": [\n", 0), 0U)
      << json;
  EXPECT_TRUE(json.ends_with("}\n]}\n")) << json;
  EXPECT_NE(
      json.find(
          "{\"check\": \"agent\", \"status\": \"ok\", \"reason\": \"agent-resident\", \"detail\": "
          "\"resident, process 344, version " VELMOR_VERSION_TEXT
          ", C:\\\\Program Files (x86)\\\\Tessaly\\\\Agent\\\\velmor.exe\", \"pid\": 344, \"path\": "
          "\"C:\\\\Program Files (x86)\\\\Tessaly\\\\Agent\\\\velmor.exe\", \"fileVersion\": \"" VELMOR_VERSION_TEXT
          "\"}"),
      std::string::npos)
      << json;
  EXPECT_NE(json.find("\"reason\": \"service-stopped\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"serviceState\": \"stopped\", \"startType\": \"auto\"}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"valueType\": \"REG_SZ\", \"valueBytes\": "), std::string::npos) << json;
  EXPECT_NE(json.find("\"valueText\": \"\\\"C:\\\\Program Files (x86)\\\\Tessaly\\\\Agent\\\\velmor.exe\\\" "
                      "1\\u0009\\\"\""),
            std::string::npos)
      << json;
  std::size_t checks = 0;
  std::size_t reasons = 0;
  for (std::size_t at = json.find("{\"check\": "); at != std::string::npos; at = json.find("{\"check\": ", at + 1)) {
    ++checks;
    reasons += json.compare(json.find(", ", json.find("\"status\": ", at)), 12, ", \"reason\": ") == 0 ? 1U : 0U;
  }
  EXPECT_EQ(checks, JudgeDesktop(facts).size());
  EXPECT_EQ(reasons, checks) << json;
  EXPECT_EQ(Narrow(JsonUsageError(L"doctor takes only \"--json\"")),
            "{\"schemaVersion\": 2, \"error\": \"usage\", \"message\": \"doctor takes only \\\"--json\\\"\"}\n");
}

}  // namespace
}  // namespace velmor::ctl
