// The simulated desktop itself: every scenario relies on its timers, windows, kernel objects,
// registry and version test behaving as on Windows.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/AgentWindow.h"
#include "tests/host/sim/SimDesktop.h"

namespace velmor::sim {
namespace {

// Records the events an agent window receives.
class Recorder final : public AgentWindowEvents {
 public:
  explicit Recorder(SimDesktop& desktop) : desktop_(desktop) {}
  void OnTimer(TimerId timer) override { Record(timer); }
  void OnAgentCommand(MessageWParam command, MessageLParam) override { commands.push_back(command); }
  void OnCloseRequest() override { ++closeRequests; }
  void OnWindowGone() override {}
  void OnEndSession(bool, bool) override {}
  void OnQuitMessage() override {}

  struct Tick {
    TimerId timer;
    Ms at;
  };
  std::vector<Tick> ticks;
  std::vector<MessageWParam> commands;
  int closeRequests = 0;
  std::function<void(TimerId)> onTick;

 private:
  void Record(TimerId timer) {
    ticks.push_back({timer, desktop_.Now()});
    if (onTick) {
      onTick(timer);
    }
  }

  SimDesktop& desktop_;
};

class SimDesktopTest : public ::testing::Test {
 protected:
  SimDesktop desktop;
  SimProcess& process = desktop.CreateBareProcess(L"x.exe", "C:\\x.exe");
};

class SimTimers : public ::testing::Test {
 protected:
  SimDesktop desktop;
  SimProcess& process = desktop.CreateBareProcess(L"x.exe", "C:\\x.exe");
  Recorder recorder{desktop};
  WindowHandle window = process.CreateAgentWindow("TMainForm", "Shell", recorder);
};

TEST_F(SimTimers, TickAtEveryIntervalAndTimeMovesOnlyWhenAdvanced) {
  process.SetTimer(window, AgentTimer::Activation, 1000);
  desktop.RunUntilIdle();
  EXPECT_TRUE(recorder.ticks.empty());
  desktop.AdvanceBy(3500);
  ASSERT_EQ(recorder.ticks.size(), 3U);
  EXPECT_EQ(recorder.ticks[0].at, 1000U);
  EXPECT_EQ(recorder.ticks[2].at, 3000U);
  EXPECT_EQ(desktop.Now(), 3500U);
}

TEST_F(SimTimers, ShortIntervalsAreRaisedToTheSystemMinimum) {
  process.SetTimer(window, AgentTimer::Start, 1);
  EXPECT_EQ(desktop.TimerInterval(window, AgentTimer::Start), 1U);
  desktop.AdvanceBy(9);
  EXPECT_TRUE(recorder.ticks.empty());
  desktop.AdvanceBy(1);
  EXPECT_EQ(recorder.ticks.size(), 1U);
}

TEST_F(SimTimers, TicksDoNotPileUpWhileAHandlerSleeps) {
  process.SetTimer(window, AgentTimer::Activation, 1000);
  bool slept = false;
  recorder.onTick = [&](TimerId) {
    if (!slept) {
      slept = true;
      process.Sleep(3500);  // three due times pass during the handler
    }
  };
  desktop.AdvanceBy(1000);
  // The tick that fell due during the sleep comes after the handler, once, then the rhythm goes on.
  ASSERT_EQ(recorder.ticks.size(), 2U);
  EXPECT_EQ(recorder.ticks[1].at, 4500U);
  desktop.AdvanceTo(5000);
  ASSERT_EQ(recorder.ticks.size(), 3U);
  EXPECT_EQ(recorder.ticks[2].at, 5000U);
}

TEST_F(SimTimers, SetAgainRestartsAndKillDropsThePendingTick) {
  process.SetTimer(window, AgentTimer::Activation, 1000);
  desktop.AdvanceBy(900);
  process.SetTimer(window, AgentTimer::Activation, 1000);  // restarts: next tick at 1900
  desktop.AdvanceTo(1899);
  EXPECT_TRUE(recorder.ticks.empty());
  desktop.AdvanceTo(1900);
  EXPECT_EQ(recorder.ticks.size(), 1U);

  process.Sleep(1500);  // the tick due at 2900 is pending, not delivered
  EXPECT_TRUE(process.KillTimer(window, AgentTimer::Activation));
  desktop.RunUntilIdle();
  EXPECT_EQ(recorder.ticks.size(), 1U) << "a killed timer's pending tick was delivered";
  EXPECT_FALSE(process.KillTimer(window, AgentTimer::Activation));
  EXPECT_FALSE(desktop.TimerRunning(window, AgentTimer::Activation));
}

TEST_F(SimTimers, PostedMessagesComeBeforeTicksAndSendsAreSynchronous) {
  process.SetTimer(window, AgentTimer::Activation, 10);
  desktop.AdvanceBy(5);
  desktop.Post(window, 1025, 1, 0);
  EXPECT_TRUE(recorder.commands.empty());
  MessageResult result = 7;
  EXPECT_TRUE(process.SendMessageTimeoutA(window, 1025, 2, 0, 0, 100, result));
  EXPECT_EQ(result, 0);
  ASSERT_EQ(recorder.commands.size(), 1U);
  EXPECT_TRUE(process.SendMessageTimeoutA(window, 1026, 3, 0, 0, 100, result));
  EXPECT_EQ(recorder.commands.size(), 1U) << "a message the agent does not serve became an event";
  desktop.AdvanceBy(5);
  ASSERT_EQ(recorder.commands.size(), 2U);
  EXPECT_EQ(recorder.commands[1], 1U);
  EXPECT_EQ(recorder.ticks.size(), 1U);

  desktop.Post(window, kWmClose, 0, 0);
  desktop.RunUntilIdle();
  EXPECT_EQ(recorder.closeRequests, 1);
}

TEST_F(SimTimers, HungWindowsGetNothingAndTimeOutSends) {
  SimProcess& other = desktop.CreateBareProcess(L"y.exe", "C:\\y.exe");
  desktop.SetHung(window, true);
  desktop.Post(window, 1025, 0, 0);
  desktop.RunUntilIdle();
  EXPECT_TRUE(recorder.commands.empty());
  MessageResult result = 0;
  const Ms before = desktop.Now();
  EXPECT_FALSE(other.SendMessageTimeoutA(window, 1025, 0, 0, win32::kSmtoAbortIfHung, 5000, result));
  EXPECT_EQ(other.GetLastError(), kErrorTimeout);
  EXPECT_EQ(desktop.Now(), before + 5000);

  const KernelHandle handle = other.OpenProcess(win32::kProcessTerminate | win32::kSynchronize, false, process.Id());
  ASSERT_NE(handle, kNoHandle);
  EXPECT_TRUE(other.TerminateProcess(handle, 0));
  EXPECT_EQ(other.WaitForSingleObject(handle, 5000), kWaitObject0);
  EXPECT_TRUE(process.Terminated());
  EXPECT_FALSE(other.IsWindow(window));
  EXPECT_TRUE(other.CloseHandle(handle));
  EXPECT_EQ(other.OpenHandles(), 0);
}

TEST_F(SimTimers, FindWindowMatchesWholeCaptionAndClassWithoutCase) {
  EXPECT_EQ(process.FindWindowA("tmainform", "SHELL"), window);
  EXPECT_EQ(process.FindWindowA("TMainForm", "Shel"), kNoWindow);
  EXPECT_EQ(process.FindWindowA("TMainForm", "Shell "), kNoWindow);
  EXPECT_EQ(process.FindWindowA("TForm", "Shell"), kNoWindow);
  process.DestroyAgentWindow(window);
  EXPECT_EQ(process.FindWindowA("TMainForm", "Shell"), kNoWindow);
}

TEST_F(SimDesktopTest, NamedMappingsLiveWhileAnyHandleDoes) {
  SimProcess& other = desktop.CreateBareProcess(L"y.exe", "C:\\y.exe");
  const KernelHandle first = process.CreateFileMappingA(4, 0, 1, "m");
  EXPECT_EQ(process.GetLastError(), 0U);
  const KernelHandle second = other.CreateFileMappingA(4, 0, 1, "m");
  EXPECT_EQ(other.GetLastError(), win32::kErrorAlreadyExists);
  ASSERT_NE(second, kNoHandle);
  EXPECT_EQ(desktop.MappingHandles("m"), 2);
  EXPECT_EQ(other.OpenFileMappingA(win32::kFileMapAllAccess, true, "M"), kNoHandle) << "names are case-sensitive";
  EXPECT_EQ(other.GetLastError(), kErrorFileNotFound);

  EXPECT_TRUE(process.CloseHandle(first));
  EXPECT_FALSE(process.CloseHandle(first));
  EXPECT_EQ(process.InvalidHandleCloses(), 1);
  EXPECT_TRUE(desktop.MappingExists("m"));
  EXPECT_FALSE(process.CloseHandle(second)) << "a handle of another process";
  EXPECT_TRUE(other.CloseHandle(second));
  EXPECT_FALSE(desktop.MappingExists("m"));

  desktop.HoldExternalMapping("r", /*restricted=*/true);
  EXPECT_EQ(process.CreateFileMappingA(4, 0, 1, "r"), kNoHandle) << "a name squatted with a restrictive descriptor";
  EXPECT_EQ(process.GetLastError(), win32::kErrorAccessDenied);
  EXPECT_EQ(process.OpenFileMappingA(win32::kFileMapAllAccess, false, "r"), kNoHandle);
  EXPECT_EQ(process.GetLastError(), win32::kErrorAccessDenied);

  desktop.failMappingCreation = true;
  EXPECT_EQ(process.CreateFileMappingA(4, 0, 1, "n"), kNoHandle);
  EXPECT_EQ(process.GetLastError(), kErrorNotEnoughMemory);
}

TEST_F(SimDesktopTest, RegistryQueriesFollowTheSizeRulesOfWindows) {
  // Opened without a view flag: the simulated process's own, 64-bit view.
  desktop.registry64.SetString("SOFTWARE\\K", "V", "abc");
  RegistryKey key{};
  ASSERT_EQ(process.RegOpenKeyExA(kHkeyLocalMachine, "software\\k", 0, win32::kKeyQueryValue, key), 0U);
  std::uint8_t buffer[10] = {};
  std::uint32_t type = 0;
  std::uint32_t size = 7;
  EXPECT_EQ(process.RegQueryValueExW(key, L"v", type, buffer, size), win32::kErrorMoreData);
  EXPECT_EQ(size, 8U) << "a string is stored in UTF-16, its NUL included";
  size = sizeof(buffer);
  EXPECT_EQ(process.RegQueryValueExW(key, L"V", type, buffer, size), 0U);
  EXPECT_EQ(size, 8U);
  EXPECT_EQ(type, win32::kRegSz);
  const std::uint8_t abc[] = {'a', 0, 'b', 0, 'c', 0, 0, 0};
  EXPECT_EQ(std::memcmp(buffer, abc, sizeof abc), 0);
  EXPECT_EQ(process.RegQueryValueExW(key, L"W", type, buffer, size), kErrorFileNotFound);
  const std::uint8_t data[] = {'x', 0, 0, 0};
  EXPECT_EQ(process.RegSetValueExW(key, L"V", win32::kRegSz, data, 4), win32::kErrorAccessDenied);
  EXPECT_EQ(process.RegCloseKey(key), 0U);
  EXPECT_NE(process.RegCloseKey(key), 0U);

  EXPECT_EQ(process.RegOpenKeyExA(kHkeyLocalMachine, "SOFTWARE\\Missing", 0, 1, key), kErrorFileNotFound);
  desktop.registry64.denyWriteAccess = true;
  EXPECT_EQ(process.RegOpenKeyExA(kHkeyLocalMachine, "SOFTWARE\\K", 0, win32::kKeySetValue, key),
            win32::kErrorAccessDenied);
  EXPECT_EQ(process.OpenHandles(), 0);
}

TEST_F(SimDesktopTest, VersionTestComparesMajorMinorAndServicePackAsOneNumber) {
  auto atLeast = [&](std::uint32_t major, std::uint32_t minor, std::uint16_t sp) {
    OsVersionInfoEx info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.wServicePackMajor = sp;
    std::uint64_t mask = process.VerSetConditionMask(0, win32::kVerMajorVersion, win32::kVerGreaterEqual);
    mask = process.VerSetConditionMask(mask, win32::kVerMinorVersion, win32::kVerGreaterEqual);
    mask = process.VerSetConditionMask(mask, win32::kVerServicePackMajor, win32::kVerGreaterEqual);
    return process.VerifyVersionInfoW(info, 0x23, mask);
  };
  desktop.version = {6, 3, 0, 0, {}};
  EXPECT_TRUE(atLeast(6, 3, 0));
  EXPECT_FALSE(atLeast(6, 3, 1));
  EXPECT_TRUE(atLeast(6, 2, 5)) << "a higher minor version passes whatever the service pack";
  desktop.version = {6, 2, 9, 0, {}};
  EXPECT_FALSE(atLeast(6, 3, 0));
  EXPECT_EQ(process.GetLastError(), 1150U);
  desktop.version = {10, 0, 0, 0, {}};
  EXPECT_TRUE(atLeast(6, 3, 0)) << "a higher major version passes whatever its minor version";
  EXPECT_EQ(process.VerSetConditionMask(0, win32::kVerMajorVersion, 3), 3U << 3);
  EXPECT_EQ(process.VerSetConditionMask(0, win32::kVerServicePackMajor, 3), 3U << 15);
}

TEST_F(SimDesktopTest, ServiceAnswersFollowTheScript) {
  desktop.services.ScriptControlAnswers({1062, 1061}, 0);
  const ServiceHandle manager = process.OpenSCManagerA(1);
  const ServiceHandle service = process.OpenServiceA(manager, "tsysrv", 0x100);
  ASSERT_NE(service, kNoService);
  EXPECT_FALSE(process.ControlService(service, 133));
  EXPECT_EQ(process.GetLastError(), 1062U);
  EXPECT_FALSE(process.ControlService(service, 133));
  EXPECT_EQ(process.GetLastError(), 1061U);
  EXPECT_TRUE(process.ControlService(service, 133));
  EXPECT_EQ(process.OpenServiceA(manager, "other", 0x100), kNoService);
  EXPECT_EQ(process.GetLastError(), 1060U);
  EXPECT_TRUE(process.CloseServiceHandle(service));
  EXPECT_TRUE(process.CloseServiceHandle(manager));
  EXPECT_EQ(desktop.services.controls.size(), 3U);
}

TEST_F(SimDesktopTest, ProductWindowShowsAfterTheTrayClickDelay) {
  SimProduct& product = desktop.StartProduct(ProductStart::Hidden, 300);
  EXPECT_TRUE(process.PostMessageA(product.Window(), 0x8064, 0, 0x202));
  process.PostMessageA(product.Window(), 0x8064, 0, 0x201);
  EXPECT_EQ(product.TrayClicks(), 1);
  process.Sleep(299);
  EXPECT_FALSE(process.IsWindowVisible(product.Window()));
  process.Sleep(1);
  EXPECT_TRUE(process.IsWindowVisible(product.Window()));
}

TEST_F(SimDesktopTest, DialogsDefaultToOkAndNo) {
  EXPECT_EQ(process.ShowMessageDialog(DialogKind::Error, L"e", false), DialogResult::Ok);
  EXPECT_EQ(process.ShowMessageDialog(DialogKind::Confirmation, L"c", true), DialogResult::No);
  desktop.dialogs.Answer(DialogResult::Yes);
  EXPECT_EQ(process.ShowMessageDialog(DialogKind::Confirmation, L"c", true), DialogResult::Yes);
  ASSERT_EQ(desktop.dialogs.shown.size(), 3U);
  EXPECT_TRUE(desktop.dialogs.shown[1].topmost);
}

}  // namespace
}  // namespace velmor::sim
