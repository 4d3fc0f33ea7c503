// The reference installer's whole life under Windows Installer (under Wine, Wine's own): refused on a
// Windows older than 8.1, install, the agent started with the user's rights, an upgrade to the next
// version while that agent and a velmorctl trace run, a repair while it runs, an uninstall after
// velmorctl.exe was deleted by hand; then the same in a folder of the administrator's choice, kept
// across an upgrade. Then the silent install and upgrade beside the running product, and a
// switched-off autostart across a repair and an upgrade. The build makes both packages from
// installer/velmor.wxs.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "peers/AgentContract.h"
#include "peers/ProductPeers.h"
#include "tests/e2e/AgentTest.h"

namespace velmor::e2e {
namespace {

// The installer runs the agent and velmorctl from its actions: a start or two each.
const std::chrono::milliseconds kInstallBound = 180s + 2 * StartCost();

std::string EnvironmentValue(const char* name) {
  std::string value(MAX_PATH, '\0');
  const DWORD length = ::GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
  value.resize(length < value.size() ? length : 0);
  return value;
}

// Where a 32-bit package installs: the 32-bit program folder (on a 32-bit Windows, the only one).
std::string InstallFolder() {
  std::string programs = EnvironmentValue("ProgramFiles(x86)");
  if (programs.empty()) {
    programs = EnvironmentValue("ProgramFiles");
  }
  return programs + "\\Tessaly\\Agent\\";
}

std::string PackagePath(const std::string& version) {
  return ShippedFolder() + "installers\\velmor-" + version + ".msi";
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A folder an administrator may choose, outside the program folders' code page: Cyrillic and Greek.
std::wstring ChosenFolder() {
  return L"C:\\Program Files\\\u0422\u0435\u0441\u0441\u0430\u043B\u0438 \u03A9\\";
}

// The renames Windows (and Wine) carry out at the next restart: a file in use that an installer had to
// replace or remove. Empty when there are none.
std::wstring PendingRenames() {
  std::wstring renames(32768, L'\0');
  DWORD size = static_cast<DWORD>(renames.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, renames.data(),
                     &size) != ERROR_SUCCESS) {
    return {};
  }
  renames.resize(size / sizeof(wchar_t));
  std::replace(renames.begin(), renames.end(), L'\0', L' ');
  return renames;
}

// The folder the package remembers for its later runs, as stored; nothing when none is.
std::optional<std::wstring> RememberedFolder() {
  std::wstring folder(MAX_PATH, L'\0');
  DWORD size = static_cast<DWORD>(folder.size() * sizeof(wchar_t));
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tessaly\\Agent", 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  const LSTATUS read = ::RegGetValueW(key, nullptr, L"InstallFolder", RRF_RT_REG_SZ, nullptr, folder.data(), &size);
  ::RegCloseKey(key);
  if (read != ERROR_SUCCESS) {
    return std::nullopt;
  }
  folder.resize(size / sizeof(wchar_t) - 1);
  return folder;
}

class InstallerTest : public AgentTest {
 protected:
  void SetUp() override {
    AgentTest::SetUp();
    if (!IsSkipped() && RunningUnderWine()) {
      // The package needs Windows 8.1 or later (VersionNT 603); a fresh prefix reports Windows 7.
      ASSERT_TRUE(SetWineVersionFor("msiexec.exe", "win10"));
    }
  }

  // Runs msiexec silently with this process's rights (an installer's: elevated), logging verbosely to
  // a file of the case; returns its exit code, nothing when it did not end in time.
  std::optional<DWORD> Msiexec(const std::string& arguments, const std::string& logName) {
    return Msiexec(Widen(arguments), logName);
  }
  std::optional<DWORD> Msiexec(const std::wstring& arguments, const std::string& logName) {
    const std::string log = CaseFolder() + logName + ".log";
    ChildProcess run =
        ChildProcess::LaunchWide(Widen(SystemFolder() + "msiexec.exe"), arguments + Widen(" /qn /l*v " + Quote(log)));
    std::optional<DWORD> exitCode = run.WaitForExit(kInstallBound);
    if (!exitCode) {
      run.Terminate();
    }
    return exitCode;
  }

  std::string InstallerLog(const std::string& logName) {
    std::ifstream file(CaseFolder() + logName + ".log", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::erase(text, '\0');  // the log may be UTF-16; the action names are ASCII
    return text;
  }

  // Starts the installed agent as a logon does (its argument from the autostart value), with the
  // user's rights; ends it at the end of the case should it still run.
  ChildProcess& StartInstalledAgent() {
    RequireUserRights();
    agents_.push_back(ChildProcess::Launch(InstallFolder() + "velmor.exe", "1", Rights::User));
    return agents_.back();
  }
  // The same from the folder of the autostart value: the agent's command line as a logon runs it.
  ChildProcess& StartAgentFromAutostart() {
    RequireUserRights();
    const std::optional<RegistryValue> stored = ReadAutostartAsStored();
    std::wstring command;
    if (stored && stored->data.size() >= sizeof(wchar_t)) {
      command.assign(reinterpret_cast<const wchar_t*>(stored->data.data()), stored->data.size() / sizeof(wchar_t) - 1);
    }
    const std::size_t closing = command.find(L'"', 1);
    std::wstring exe = closing == std::wstring::npos ? std::wstring() : command.substr(1, closing - 1);
    agents_.push_back(ChildProcess::LaunchWide(exe, L"1", Rights::User));
    return agents_.back();
  }

  void TearDown() override {
    // Whatever went wrong, the machine is left without the package.
    if (FileExists(InstallFolder() + "velmor.exe") || FileExists(ChosenFolder() + L"velmor.exe")) {
      Msiexec("/x " + Quote(PackagePath(VELMOR_TEST_NEXT_VERSION)), "cleanup-next");
      Msiexec("/x " + Quote(PackagePath(VELMOR_TEST_VERSION)), "cleanup");
    }
    for (const ChildProcess& agent : agents_) {
      agent.Terminate();
    }
    AgentTest::TearDown();
  }

 private:
  std::deque<ChildProcess> agents_;
};

TEST_F(InstallerTest, InstallsUpgradesRepairsWhileTheAgentRunsAndUninstallsLeavingNothing) {
  RequireUserRights();  // the installed agent is started as a logon starts it
  const std::string current = PackagePath(VELMOR_TEST_VERSION);
  const std::string next = PackagePath(VELMOR_TEST_NEXT_VERSION);
  ASSERT_TRUE(FileExists(current) && FileExists(next))
      << "no test packages beside the suite: the build makes them with wixl, which scripts/setup installs";
  const std::string agentPath = InstallFolder() + "velmor.exe";
  const std::string ctlPath = InstallFolder() + "velmorctl.exe";
  // A logon start makes sure that the product's service runs.
  InstallService();
  ASSERT_EQ(StartServiceStandin(), 0U);
  ASSERT_EQ(PendingRenames(), L"") << "renames pending from before the case";

  if (RunningUnderWine()) {
    // On Windows 7 (VersionNT 601), where the agent refuses every start, nothing is installed. (Wine's
    // engine logs no launch condition's message where Windows logs it.)
    ASSERT_TRUE(SetWineVersionFor("msiexec.exe", "win7"));
    EXPECT_EQ(Msiexec("/i " + Quote(current), "install-on-windows-7"), 1603U) << InstallerLog("install-on-windows-7");
    EXPECT_FALSE(FileExists(agentPath));
    EXPECT_FALSE(ReadAutostart().has_value());
    ASSERT_TRUE(SetWineVersionFor("msiexec.exe", "win10"));
  }

  // Install: the files, the autostart value with its logon argument, no reboot asked for.
  ASSERT_EQ(Msiexec("/i " + Quote(current), "install"), 0U) << InstallerLog("install");
  EXPECT_EQ(FileVersionOf(agentPath), VELMOR_TEST_VERSION);
  EXPECT_EQ(FileVersionOf(ctlPath), VELMOR_TEST_VERSION);
  const std::optional<RegistryValue> value = ReadAutostart();
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->data, Quote(agentPath) + " 1" + std::string(1, '\0'));
  EXPECT_EQ(RememberedFolder(), Widen(InstallFolder()));

  ChildProcess& old = StartInstalledAgent();
  ASSERT_NE(WaitForNamedAgent(old), nullptr) << "the installed agent stays resident";
  // And the support routine's trace, left running from the install folder: it holds its file too.
  const ChildProcess trace = ChildProcess::Launch(ctlPath, "trace", Rights::User);
  ASSERT_TRUE(trace.IsRunning());

  // Upgrade while they run. A running exe's file is locked (under Wine as on Windows): had the agent
  // or velmorctl still run when its file was due, the installer would have scheduled the replacement
  // for the next restart and ended with 3010. Exit code 0 and no pending rename prove the order.
  const std::optional<DWORD> upgrade = Msiexec("/i " + Quote(next), "upgrade");
  EXPECT_EQ(upgrade, 0U) << "0, not 3010: no reboot asked for\n" << InstallerLog("upgrade");
  EXPECT_EQ(PendingRenames(), L"") << "a file was in use when it was due";
  EXPECT_EQ(old.WaitForExit(0ms), 0U) << "the old agent quit";
  EXPECT_EQ(trace.WaitForExit(0ms), 0xC000013AU) << "the trace was ended as an interrupted console program";
  trace.Terminate();
  const std::string log = InstallerLog("upgrade");
  EXPECT_NE(log.find("velmor running-velmorctl: ended=1 still-running=0"), std::string::npos) << log;
  const std::size_t removed = log.find("Action ended", log.find("RemoveExistingProducts"));
  const std::size_t placed = log.find("Action start", log.find("InstallFiles"));
  EXPECT_LT(removed, placed) << "the old version (and its agent) went before the new files came:\n" << log;
  EXPECT_EQ(FileVersionOf(agentPath), VELMOR_TEST_NEXT_VERSION);
  EXPECT_EQ(FileVersionOf(ctlPath), VELMOR_TEST_NEXT_VERSION);
  EXPECT_EQ(ReadAutostart().value_or(RegistryValue{}).data, value->data);

  // A repair that replaces every file while the agent runs: the agent is asked to quit first.
  ChildProcess& upgraded = StartInstalledAgent();
  ASSERT_NE(WaitForNamedAgent(upgraded), nullptr) << "the new version stays resident";
  EXPECT_EQ(Msiexec("/i " + Quote(next) + " REINSTALL=ALL REINSTALLMODE=amus", "repair"), 0U) << InstallerLog("repair");
  EXPECT_EQ(PendingRenames(), L"") << "the agent's file was due while it ran";
  EXPECT_EQ(upgraded.WaitForExit(0ms), 0U) << "the agent quit before the repair replaced its file";
  const std::string repairLog = InstallerLog("repair");
  EXPECT_LT(repairLog.find("QuitAgent"), repairLog.find("Action start", repairLog.find("InstallFiles"))) << repairLog;
  EXPECT_EQ(FileVersionOf(agentPath), VELMOR_TEST_NEXT_VERSION);

  // Uninstall after velmorctl.exe was deleted by hand: the quit helper comes from the package.
  ChildProcess& repaired = StartInstalledAgent();
  ASSERT_NE(WaitForNamedAgent(repaired), nullptr);
  ASSERT_TRUE(::DeleteFileA(ctlPath.c_str()));
  EXPECT_EQ(Msiexec("/x " + Quote(next), "uninstall"), 0U) << InstallerLog("uninstall");
  EXPECT_EQ(repaired.WaitForExit(0ms), 0U) << "the agent quit before its files went";
  EXPECT_EQ(PendingRenames(), L"");
  EXPECT_FALSE(FileExists(agentPath));
  EXPECT_FALSE(FileExists(ctlPath));
  EXPECT_FALSE(ReadAutostart().has_value());
  EXPECT_FALSE(RememberedFolder().has_value());
  const std::string agentClass(peers::kAgentWindowClass);
  const std::string agentCaption(peers::kAgentWindowCaption);
  EXPECT_EQ(::FindWindowA(agentClass.c_str(), agentCaption.c_str()), nullptr) << "no agent left running";

  // A folder of the administrator's choice, given at the install only: the value and the logon start
  // use it, the upgrade keeps it, the uninstall finds it and leaves nothing there.
  // Given without its closing backslash, which a command line would take for an escape of the quote.
  std::wstring given = ChosenFolder();
  given.pop_back();
  ASSERT_EQ(Msiexec(L"/i \"" + Widen(current) + L"\" INSTALLDIR=\"" + given + L"\"", "install-chosen"), 0U)
      << InstallerLog("install-chosen");
  EXPECT_TRUE(FileExists(ChosenFolder() + L"velmor.exe"));
  EXPECT_FALSE(FileExists(agentPath));
  EXPECT_EQ(RememberedFolder(), ChosenFolder());
  ChildProcess& chosen = StartAgentFromAutostart();
  ASSERT_NE(WaitForNamedAgent(chosen), nullptr) << "the autostart value does not start the agent in its folder";

  EXPECT_EQ(Msiexec("/i " + Quote(next), "upgrade-chosen"), 0U) << InstallerLog("upgrade-chosen");
  EXPECT_EQ(chosen.WaitForExit(0ms), 0U) << "the agent in the chosen folder quit";
  EXPECT_EQ(PendingRenames(), L"");
  EXPECT_TRUE(FileExists(ChosenFolder() + L"velmor.exe")) << "the upgrade left the chosen folder";
  EXPECT_TRUE(FileExists(ChosenFolder() + L"velmorctl.exe"));
  EXPECT_FALSE(FileExists(agentPath)) << "the upgrade went back to the default folder";
  ChildProcess& chosenUpgraded = StartAgentFromAutostart();
  ASSERT_NE(WaitForNamedAgent(chosenUpgraded), nullptr);

  EXPECT_EQ(Msiexec("/x " + Quote(next), "uninstall-chosen"), 0U) << InstallerLog("uninstall-chosen");
  EXPECT_EQ(chosenUpgraded.WaitForExit(0ms), 0U) << "the agent in the chosen folder quit before its files went";
  EXPECT_FALSE(FileExists(ChosenFolder() + L"velmor.exe"));
  EXPECT_FALSE(FileExists(ChosenFolder() + L"velmorctl.exe"));
  EXPECT_FALSE(FileExists(ChosenFolder())) << "the chosen folder was left behind";
  EXPECT_FALSE(ReadAutostart().has_value());
  EXPECT_FALSE(RememberedFolder().has_value());
  EXPECT_EQ(::FindWindowA(agentClass.c_str(), agentCaption.c_str()), nullptr) << "no agent left running";
}

// With the product running, a silent install or upgrade waits on no dialog: the agent's install-time
// start runs where it can show none, and the restart it would offer reaches Windows Installer, which
// ends with 3010. The product is seen as the agent sees it: its window, or another version's marker.
TEST_F(InstallerTest, SilentInstallAndUpgradeBesideTheRunningProductEndWithARestartRequest) {
  const std::string current = PackagePath(VELMOR_TEST_VERSION);
  const std::string next = PackagePath(VELMOR_TEST_NEXT_VERSION);
  ASSERT_TRUE(FileExists(current) && FileExists(next));
  const std::string agentPath = InstallFolder() + "velmor.exe";
  const std::string rewritten = Quote(agentPath) + " 1" + std::string(1, '\0');
  const std::string dialogClass = "#32770";
  const std::string confirmCaption = "Confirm";

  // Msiexec gives nothing when the run did not end within its bound.
  StartProductWindow("--visible");
  ASSERT_EQ(Msiexec("/i " + Quote(current), "install-beside-product"), 3010U) << InstallerLog("install-beside-product");
  EXPECT_EQ(ReadAutostart().value_or(RegistryValue{}).data, rewritten);
  std::string log = InstallerLog("install-beside-product");
  EXPECT_NE(log.find("velmor install-time-start: exit-code=0"), std::string::npos) << log;
  EXPECT_NE(log.find("velmor product-check: product-window=yes other-version=no restart=requested"), std::string::npos)
      << log;
  EXPECT_EQ(::FindWindowA(dialogClass.c_str(), confirmCaption.c_str()), nullptr) << "a restart prompt was left open";

  // An upgrade while another version runs (only its second marker), restarts suppressed as deployment
  // tools do: 3010 all the same.
  const HWND product = ProductWindow();
  ASSERT_NE(product, nullptr);
  ::PostMessageA(product, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([] { return ProductWindow() == nullptr; }, kExitBound));
  {
    const HeldMapping otherVersion(std::string(peers::kOtherVersionMarkers[1]));
    ASSERT_TRUE(otherVersion);
    ASSERT_EQ(Msiexec("/i " + Quote(next) + " REBOOT=ReallySuppress", "upgrade-beside-other-version"), 3010U)
        << InstallerLog("upgrade-beside-other-version");
  }
  EXPECT_EQ(ReadAutostart().value_or(RegistryValue{}).data, rewritten);
  log = InstallerLog("upgrade-beside-other-version");
  EXPECT_NE(log.find("velmor product-check: product-window=no other-version=yes restart=requested"), std::string::npos)
      << log;
  EXPECT_EQ(FileVersionOf(agentPath), VELMOR_TEST_NEXT_VERSION);

  // Nothing runs: the uninstall asks for nothing.
  EXPECT_EQ(Msiexec("/x " + Quote(next), "uninstall"), 0U) << InstallerLog("uninstall");
  EXPECT_FALSE(ReadAutostart().has_value());
}

// Autostart switched off as documented (the value's tail " 0") stays off across a repair and an
// upgrade, whose removal of the old version takes the value with it; and a fleet may install with it
// off (AUTOSTART=0).
TEST_F(InstallerTest, SwitchedOffStaysOffAcrossARepairAndAnUpgrade) {
  const std::string current = PackagePath(VELMOR_TEST_VERSION);
  const std::string next = PackagePath(VELMOR_TEST_NEXT_VERSION);
  ASSERT_TRUE(FileExists(current) && FileExists(next));
  const std::string agentPath = InstallFolder() + "velmor.exe";
  const std::string switchedOff = Quote(agentPath) + " 0";

  ASSERT_EQ(Msiexec("/i " + Quote(current), "install"), 0U) << InstallerLog("install");
  EXPECT_EQ(ReadAutostart().value_or(RegistryValue{}).data, Quote(agentPath) + " 1" + std::string(1, '\0'));
  ASSERT_TRUE(WriteAutostart(switchedOff));

  EXPECT_EQ(Msiexec("/i " + Quote(current) + " REINSTALL=ALL REINSTALLMODE=amus", "repair"), 0U)
      << InstallerLog("repair");
  EXPECT_EQ(ReadAutostart().value_or(RegistryValue{}).data, switchedOff + std::string(1, '\0')) << "after the repair";

  EXPECT_EQ(Msiexec("/i " + Quote(next), "upgrade"), 0U) << InstallerLog("upgrade");
  EXPECT_EQ(ReadAutostart().value_or(RegistryValue{}).data, switchedOff + std::string(1, '\0')) << "after the upgrade";
  // A logon start from that value ends at once.
  ChildProcess& logon = StartInstalledAgent();
  EXPECT_EQ(logon.WaitForExit(kExitBound), 0U);

  EXPECT_EQ(Msiexec("/x " + Quote(next), "uninstall"), 0U) << InstallerLog("uninstall");
  EXPECT_FALSE(ReadAutostart().has_value());
  EXPECT_EQ(Msiexec("/i " + Quote(current) + " AUTOSTART=0", "install-switched-off"), 0U)
      << InstallerLog("install-switched-off");
  EXPECT_EQ(ReadAutostart().value_or(RegistryValue{}).data, switchedOff + std::string(1, '\0'))
      << "installed with AUTOSTART=0";
}

}  // namespace
}  // namespace velmor::e2e
