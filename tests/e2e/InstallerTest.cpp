// The reference installer's whole life under Windows Installer (under Wine, Wine's own): install, the
// agent started with the user's rights, an upgrade to the next version while that agent runs, a
// start of the new version, and the uninstall. The build makes both packages from installer/velmor.wxs.
#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "peers/AgentContract.h"
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

// What identifies the file at a path without opening it (an open handle could hold up its removal):
// its size and times. Nothing when it does not exist.
std::optional<std::string> FileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) == FALSE) {
    return std::nullopt;
  }
  std::ostringstream stamp;
  stamp << data.nFileSizeLow << ' ' << data.ftCreationTime.dwLowDateTime << ' ' << data.ftCreationTime.dwHighDateTime
        << ' ' << data.ftLastWriteTime.dwLowDateTime << ' ' << data.ftLastWriteTime.dwHighDateTime;
  return stamp.str();
}

std::string SystemFolder() {
  std::string folder(MAX_PATH, '\0');
  folder.resize(::GetSystemDirectoryA(folder.data(), MAX_PATH));
  return folder + "\\";
}

class InstallerTest : public AgentTest {
 protected:
  // Runs msiexec silently with this process's rights (an installer's: elevated), logging verbosely to
  // a file of the case; returns its exit code, nothing when it did not end in time.
  std::optional<DWORD> Msiexec(const std::string& arguments, const std::string& logName) {
    const std::string log = CaseFolder() + logName + ".log";
    ChildProcess run = ChildProcess::Launch(SystemFolder() + "msiexec.exe", arguments + " /qn /l*v " + Quote(log));
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
    agents_.push_back(ChildProcess::Launch(InstallFolder() + "velmor.exe", "1", Rights::User));
    return agents_.back();
  }

  void TearDown() override {
    // Whatever went wrong, the machine is left without the package.
    if (FileExists(InstallFolder() + "velmor.exe")) {
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

TEST_F(InstallerTest, InstallsUpgradesWhileTheAgentRunsAndUninstallsLeavingNothing) {
  const std::string current = PackagePath(VELMOR_TEST_VERSION);
  const std::string next = PackagePath(VELMOR_TEST_NEXT_VERSION);
  ASSERT_TRUE(FileExists(current) && FileExists(next))
      << "no test packages beside the suite: the build makes them with wixl, which scripts/setup installs";
  const std::string agentPath = InstallFolder() + "velmor.exe";
  const std::string ctlPath = InstallFolder() + "velmorctl.exe";
  // A logon start makes sure that the product's service runs.
  InstallService();
  ASSERT_EQ(StartServiceStandin(), 0U);

  // Install: the files, the autostart value with its logon argument, no reboot asked for.
  ASSERT_EQ(Msiexec("/i " + Quote(current), "install"), 0U) << InstallerLog("install");
  EXPECT_EQ(FileVersionOf(agentPath), VELMOR_TEST_VERSION);
  EXPECT_EQ(FileVersionOf(ctlPath), VELMOR_TEST_VERSION);
  const std::optional<RegistryValue> value = ReadAutostart();
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->data, Quote(agentPath) + " 1" + std::string(1, '\0'));

  ChildProcess& old = StartInstalledAgent();
  ASSERT_NE(WaitForNamedAgent(old), nullptr) << "the installed agent stays resident";

  // Upgrade while it runs. Wine does not lock a running exe's file, so the order is watched instead:
  // the file is looked at first, then the process; a file already replaced while the process was
  // still running afterwards is the wrong order.
  const std::optional<std::string> installed = FileStamp(agentPath);
  std::atomic<bool> upgrading{true};
  std::atomic<bool> replaced{false};
  std::atomic<bool> replacedWhileRunning{false};
  std::thread watch([&] {
    while (upgrading) {
      const bool changed = FileStamp(agentPath) != installed;
      const bool ended = old.WaitForExit(0ms).has_value();
      if (changed) {
        replaced = true;
        replacedWhileRunning = replacedWhileRunning || !ended;
      }
      ::Sleep(1);
    }
  });
  const std::optional<DWORD> upgrade = Msiexec("/i " + Quote(next), "upgrade");
  upgrading = false;
  watch.join();
  EXPECT_EQ(upgrade, 0U) << "0, not 3010: no reboot asked for\n" << InstallerLog("upgrade");
  EXPECT_EQ(old.WaitForExit(0ms), 0U) << "the old agent quit";
  EXPECT_TRUE(replaced);
  EXPECT_FALSE(replacedWhileRunning) << "the agent's file was replaced while it still ran";
  const std::string log = InstallerLog("upgrade");
  const std::size_t removed = log.find("Action ended", log.find("RemoveExistingProducts"));
  const std::size_t placed = log.find("Action start", log.find("InstallFiles"));
  EXPECT_LT(removed, placed) << "the old version (and its agent) went before the new files came:\n" << log;
  EXPECT_EQ(FileVersionOf(agentPath), VELMOR_TEST_NEXT_VERSION);
  EXPECT_EQ(FileVersionOf(ctlPath), VELMOR_TEST_NEXT_VERSION);
  EXPECT_EQ(ReadAutostart().value_or(RegistryValue{}).data, value->data);

  ChildProcess& upgraded = StartInstalledAgent();
  ASSERT_NE(WaitForNamedAgent(upgraded), nullptr) << "the new version stays resident";

  // Uninstall: the agent quits, the files and the value go.
  EXPECT_EQ(Msiexec("/x " + Quote(next), "uninstall"), 0U) << InstallerLog("uninstall");
  EXPECT_EQ(upgraded.WaitForExit(0ms), 0U) << "the agent quit before its files went";
  EXPECT_FALSE(FileExists(agentPath));
  EXPECT_FALSE(FileExists(ctlPath));
  EXPECT_FALSE(ReadAutostart().has_value());
  const std::string agentClass(peers::kAgentWindowClass);
  const std::string agentCaption(peers::kAgentWindowCaption);
  EXPECT_EQ(::FindWindowA(agentClass.c_str(), agentCaption.c_str()), nullptr) << "no agent left running";
}

}  // namespace
}  // namespace velmor::e2e
