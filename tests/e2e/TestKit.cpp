#include "tests/e2e/TestKit.h"

#include "peers/ProductPeers.h"
#include "tests/e2e/AgentTest.h"
#include "tests/e2e/KitPackages.h"
#include "tests/e2e/KitSuite.h"
#include "tests/e2e/KitUndo.h"
#include "tests/e2e/Processes.h"
#include "tests/e2e/ServiceStandin.h"

namespace velmor::e2e::kit {
namespace {

constexpr const char* kName = "velmor test kit: ";
constexpr const char* kRunner = "velmor-testkit.cmd";
constexpr const char* kResults = "velmor-testkit-results.xml";
constexpr const char* kLog = "velmor-testkit.log";

// The kit's programs and packages that the cases start and install, beside the suite.
std::vector<std::string> KitFiles() {
  return {"velmor.exe",
          "velmorctl.exe",
          "tessaly_window.exe",
          "tsysrv.exe",
          "url_recorder.exe",
          "planted.dll",
          "installers\\velmor-" VELMOR_TEST_VERSION ".msi",
          "installers\\velmor-" VELMOR_TEST_NEXT_VERSION ".msi"};
}

int Refuse(int code, const std::string& why) {
  const std::string line = kName + why + "\r\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  return code;
}

// Whether the path of this folder reads the same through the code page: the suite names its files
// through it.
bool SurvivesTheCodePage(const std::wstring& path) {
  return Widen(Narrow(path)) == path;
}

std::wstring ModuleFolderW() {
  wchar_t buffer[MAX_PATH * 4] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
  std::wstring path(buffer, length);
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring TempFolderW() {
  wchar_t buffer[MAX_PATH + 1] = {};
  return {buffer, ::GetTempPathW(MAX_PATH + 1, buffer)};
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int RunTestKit(const std::vector<std::string>& arguments) {
  std::string filter;
  for (const std::string& argument : arguments) {
    if (argument.starts_with("--gtest_filter=") && filter.empty()) {
      filter = argument;
    } else {
      return Refuse(kUsageError, "unknown argument \"" + argument + "\" (usage: " + kRunner +
                                     " [--gtest_filter=PATTERN]); nothing was changed");
    }
  }

  // Everything that can keep the kit from running is checked before anything is changed.
  const std::string kit = ExecutableFolder();
  if (!SurvivesTheCodePage(ModuleFolderW()) || !SurvivesTheCodePage(TempFolderW())) {
    return Refuse(kKitIncomplete,
                  "the kit's folder or the temporary folder has characters outside this system's code page, which "
                  "the suite names its files in: move the kit to a folder such as C:\\velmor-testkit; nothing was "
                  "changed");
  }
  for (const std::string& file : KitFiles()) {
    if (!FileExists(kit + file)) {
      return Refuse(kKitIncomplete, "the kit is incomplete: " + file + " is missing beside " + kRunner +
                                        " (unzip the whole kit and run it from its folder); nothing was changed");
    }
  }
  if (!HasAdministrativeRights()) {
    return Refuse(kNotElevated, std::string("refused: not elevated: run ") + kRunner +
                                    " from an elevated prompt (Run as administrator), for the kit installs a service "
                                    "and writes to HKLM; nothing was changed");
  }
  if (const std::optional<std::string> command = InstalledServiceCommand(); command && !ServiceStandinInstalled()) {
    return Refuse(kProductInstalled, "refused: a service \"" + std::string(peers::kProductServiceName) +
                                         "\" is installed that is not this kit's stand-in (" +
                                         (command->empty() ? "its command cannot be read" : *command) +
                                         "): the kit never runs beside the product; nothing was changed");
  }
  std::vector<std::wstring> packages;
  for (const std::string& file : KitFiles()) {
    if (file.ends_with(".msi")) {
      packages.push_back(Widen(kit + file));
    }
  }
  const std::wstring family = PackageProperty(packages.front(), L"UpgradeCode");
  if (family.empty()) {
    return Refuse(kKitIncomplete, "the kit's package " + Narrow(packages.front()) +
                                      " cannot be read (unzip the whole kit again); nothing was changed");
  }
  if (const std::optional<InstalledProduct> installed = InstalledProductOfFamily(family)) {
    return Refuse(kProductInstalled,
                  "refused: velmor " + Narrow(installed->version) + " is installed on this machine (" +
                      Narrow(installed->code) +
                      "): the kit installs and removes packages of its own; uninstall it first; nothing was changed");
  }

  const MachineSnapshot before = MachineSnapshot::Take();
  CatchInterrupts();
  const std::wstring results = Widen(kit + kResults);
  ::DeleteFileW(results.c_str());
  KitLog log(Widen(kit + kLog));
  log.Line(std::string(kName) +
           "velmor " VELMOR_TEST_VERSION
           ": the Windows-side suite on this kit's velmor.exe, velmorctl.exe and packages" +
           (filter.empty() ? "" : ", the cases of " + filter));
  // The kit tests its own programs, whatever a build's setting says.
  ::SetEnvironmentVariableA("VELMOR_E2E_SHIPPED_FOLDER", nullptr);
  const std::wstring suite = Widen(kit) + L"velmor_e2e_tests.exe";
  std::wstring commandLine = L"\"" + suite + L"\" \"--gtest_output=xml:" + results + L"\"";
  if (!filter.empty()) {
    commandLine += L" \"" + Widen(filter) + L"\"";
  }
  const SuiteRun run = RunSuite(suite, commandLine, log, 300s + 2 * StartCost());
  if (!run.endedBy.empty()) {
    log.Line(kName + run.endedBy + ": the suite was ended");
  }

  log.Line(std::string(kName) + "undoing what the run made");
  const std::vector<std::string> left = before.Undo(run.processId, packages);
  RunUndone();
  for (const std::string& thing : left) {
    log.Line(std::string(kName) + "left behind: " + thing);
  }
  if (::GetFileAttributesW(results.c_str()) == INVALID_FILE_ATTRIBUTES) {
    WriteJUnit(results, run.progress.Results());
  }

  const SuiteProgress& progress = run.progress;
  for (const CaseResult& result : progress.Results()) {
    if (result.outcome == Outcome::Skipped) {
      log.Line(std::string(kName) + "skipped " + result.name + ": " + result.detail);
    } else if (result.outcome == Outcome::Unfinished) {
      log.Line(std::string(kName) + "did not finish " + result.name + ": " +
               result.detail.substr(0, result.detail.find('\n')));
    }
  }
  const std::size_t passed = progress.Count(Outcome::Passed);
  const std::size_t failed = progress.Count(Outcome::Failed) + progress.Count(Outcome::Unfinished);
  const std::size_t skipped = progress.Count(Outcome::Skipped);
  if (progress.Results().empty()) {
    log.Line(std::string(kName) + "no case ran" + (filter.empty() ? "" : ": none matches " + filter));
  } else if (run.endedBy.empty() && run.exitCode != 0U && failed == 0) {
    log.Line(std::string(kName) + "the suite ended with exit code " + std::to_string(run.exitCode.value_or(0)));
  }
  log.Line(std::string(kName) + "results in " + kit + kResults + ", the log in " + kit + kLog);
  log.Line(std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " + std::to_string(skipped) +
           " skipped");
  if (!left.empty()) {
    return kLeftBehind;
  }
  const bool green = failed == 0 && run.endedBy.empty() && run.exitCode == 0U && !progress.Results().empty();
  return green ? kAllPassed : kCasesFailed;
}

}  // namespace velmor::e2e::kit
