// The simulated desktop: a deterministic, in-process stand-in for one Windows session that several
// agent processes share, driven by a virtual clock.
//
//   SimDesktop desktop;                                   // virtual time 0, Windows 10.0
//   desktop.registry.SetString(kRunKey, "Tessaly", "\"C:\\P\\velmor.exe\" 1");
//   desktop.services.ScriptControlAnswers({1062, 1062});  // then 0
//   desktop.dialogs.Answer(DialogResult::Yes);            // default: Ok, or No for confirmations
//   SimProduct& product = desktop.StartProduct(ProductStart::Hidden, /*showAfterMs=*/200);
//   SimProcess& agent = desktop.LaunchAgent(L"\"C:\\P\\velmor.exe\" firststart", "C:\\P\\velmor.exe");
//   desktop.RunUntilIdle();                               // messages and due ticks, time stands still
//   desktop.AdvanceBy(1000);                              // time moves event by event
//   desktop.AdvanceUntil([&] { return agent.Ended(); }, 60000);
//
// Time: Now(); a process's Sleep moves the clock (ticks that fall due meanwhile are delivered after
// the sleeping handler returns); At(t, fn) runs background work at a virtual time, even mid-Sleep.
// Processes: LaunchAgent does what RunAgent does minus the blocking loop; CreateBareProcess gives a
// process without agent window, to call the logic's free functions on. A process ends when its quit
// was requested and no handler of it is running any more, or when it is terminated; the system then
// closes what it left open (HandlesLeftAtExit). Call(process, fn) runs fn as a handler of the process.
// Windows: Post/Send from outside, FindWindow, Caption, Visible, EverShown, TimerRunning, SetHung.
// Kernel objects: HoldExternalMapping (other product versions, squatted names), MappingExists,
// MappingHandles, failMappingCreation, MutexOwner. Records: posts, switches, foregroundGrants, shellExecutes,
// mappingCreations, and the records in registry, services, version, privileges and dialogs. Faults() lists what no
// real desktop could do (a blocking send to a hung window, a livelock, a call of the blocking message loop).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AgentPlatform.h"
#include "tests/host/sim/SimProcess.h"
#include "tests/host/sim/SimProduct.h"
#include "tests/host/sim/SimSystem.h"

namespace velmor::sim {

// Windows raises timer intervals below this to it (USER_TIMER_MINIMUM).
inline constexpr Ms kUserTimerMinimum = 10;
inline constexpr std::uint32_t kWmClose = win32::kWmClose;
inline constexpr std::uint32_t kWmEndSession = win32::kWmEndSession;
inline constexpr auto kEndSessionCloseApp = static_cast<MessageLParam>(win32::kEndSessionCloseApp);
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitAbandoned = 0x80;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr Win32Status kErrorFileNotFound = 2;
inline constexpr Win32Status kErrorInvalidHandle = 6;
inline constexpr Win32Status kErrorNotEnoughMemory = 8;
inline constexpr Win32Status kErrorInvalidParameter = 87;
inline constexpr Win32Status kErrorNotAllAssigned = 1300;
inline constexpr Win32Status kErrorInvalidWindowHandle = 1400;
inline constexpr Win32Status kErrorTimeout = 1460;
inline constexpr KernelHandle kNoHandle{};
inline constexpr ServiceHandle kNoService{};

struct SimTimer {
  std::uint32_t requestedMs;
  Ms intervalMs;
  Ms nextDue;
  bool pending = false;
  Ms pendingSince = 0;
};

struct SimWindow {
  WindowHandle handle{};
  std::string className;
  std::string caption;
  std::uint32_t processId = 0;
  bool alive = true;
  bool visible = false;
  bool everShown = false;
  bool hung = false;
  AgentWindowEvents* events = nullptr;  // agent windows
  SimProduct* product = nullptr;        // product stand-in windows
  std::map<TimerId, SimTimer> timers;
};

struct PostRecord {
  std::uint32_t fromProcess;
  WindowHandle window;
  std::uint32_t message;
  MessageWParam wParam;
  MessageLParam lParam;
  Ms at;
};

struct SwitchRecord {
  std::uint32_t fromProcess;
  WindowHandle window;
  bool altTab;
  Ms at;
  std::uint32_t timeoutMs;
  bool finished;  // within its bound
};

struct ForegroundGrantRecord {
  std::uint32_t fromProcess;
  std::uint32_t processId;
  std::size_t postsBefore;  // how many posts the desktop had seen when it was made
  Ms at;
};

struct ShellExecuteRecord {
  std::uint32_t fromProcess;
  std::wstring operation;
  std::wstring file;
  int showCommand;
  Ms at;
  bool senderWaiting;  // opened while the process of a sent message was still waiting for its answer
};

struct MappingCreationRecord {
  std::uint32_t fromProcess;
  std::uint32_t protect;
  std::uint32_t maxSizeHigh;
  std::uint32_t maxSizeLow;
  std::string name;
  bool existed;
};

class SimDesktop {
 public:
  SimDesktop();
  SimDesktop(const SimDesktop&) = delete;
  SimDesktop& operator=(const SimDesktop&) = delete;
  ~SimDesktop();

  // --- Time and scheduling ---------------------------------------------------------------------
  [[nodiscard]] Ms Now() const { return now_; }
  // Delivers posted messages and pending timer ticks across all processes until none is left,
  // without moving time.
  void RunUntilIdle();
  // Moves time forward event by event, delivering ticks in time order.
  void AdvanceBy(Ms milliseconds);
  void AdvanceTo(Ms time);
  // Advances until `done` holds (checked after each event) or `limit` ms have passed; returns `done()`.
  bool AdvanceUntil(const std::function<bool()>& done, Ms limit);
  // Background work at a virtual time (the product, the service); runs even while an agent sleeps.
  void At(Ms time, std::function<void()> work);

  // --- Processes -------------------------------------------------------------------------------
  SimProcess& LaunchAgent(std::wstring commandLine, AnsiString modulePath);
  SimProcess& CreateBareProcess(std::wstring commandLine, AnsiString modulePath);
  // Runs `work` as a handler of `process` (the process ends afterwards if it asked to quit).
  void Call(SimProcess& process, const std::function<void()>& work);
  [[nodiscard]] SimProcess* Process(std::uint32_t id);
  [[nodiscard]] const std::vector<std::unique_ptr<SimProcess>>& Processes() const { return processes_; }

  // --- Windows ---------------------------------------------------------------------------------
  // A window of another program: class, caption, visibility; owned by `ownerProcess` (a bare
  // process) when given, else by a process outside the simulation.
  WindowHandle CreateForeignWindow(std::string_view className, std::string_view caption, bool visible,
                                   std::uint32_t ownerProcess = 0);
  void DestroyWindow(WindowHandle window);
  // The first window of that class and caption below `after` in the z-order (from the top when null).
  [[nodiscard]] WindowHandle FindWindow(std::string_view className, std::string_view caption,
                                        WindowHandle after = kNoWindow) const;
  [[nodiscard]] const SimWindow* Window(WindowHandle window) const;
  [[nodiscard]] SimWindow* Window(WindowHandle window);
  [[nodiscard]] std::string Caption(WindowHandle window) const;
  [[nodiscard]] bool Visible(WindowHandle window) const;
  [[nodiscard]] bool EverShown(WindowHandle window) const;
  [[nodiscard]] bool TimerRunning(WindowHandle window, TimerId timer) const;
  // The interval the timer was set with (0 when it does not run).
  [[nodiscard]] std::uint32_t TimerInterval(WindowHandle window, TimerId timer) const;
  // A hung window's process handles no message and no tick; sends to it block or time out.
  void SetHung(WindowHandle window, bool hung);
  // From a process outside the simulation (a test, a script).
  bool Post(WindowHandle window, std::uint32_t message, MessageWParam wParam, MessageLParam lParam);
  MessageResult Send(WindowHandle window, std::uint32_t message, MessageWParam wParam, MessageLParam lParam);

  // --- The product -----------------------------------------------------------------------------
  // The product's main window ("TMainForm", "Tessaly 2024"). A hidden one shows itself
  // `showAfterMs` after each tray click, or never when that is empty.
  SimProduct& StartProduct(ProductStart start, std::optional<Ms> showAfterMs = 0);
  [[nodiscard]] const std::vector<std::unique_ptr<SimProduct>>& Products() const { return products_; }

  // --- Kernel objects --------------------------------------------------------------------------
  // A named mapping held by a process outside the simulation (another product version). A
  // restricted one was made with a security descriptor that lets no agent open it.
  void HoldExternalMapping(std::string_view name, bool restricted = false);
  void ReleaseExternalMapping(std::string_view name);
  [[nodiscard]] bool MappingExists(std::string_view name) const;
  // How many handles, across all processes and outside holders, keep the mapping alive.
  [[nodiscard]] int MappingHandles(std::string_view name) const;
  [[nodiscard]] bool MappingRestricted(std::string_view name) const;
  // The process that owns the named mutex, 0 when none does (or there is no such mutex).
  [[nodiscard]] std::uint32_t MutexOwner(std::string_view name) const;
  bool failMappingCreation = false;
  // Runs before each OpenProcess (a window changing hands between a look and the open).
  std::function<void()> onOpenProcess;
  // When set, creating an agent window fails (as CreateWindowExA can, out of desktop heap).
  bool failWindowCreation = false;
  // When not 0, setting the timer of that id fails (the process's quota of timers used up).
  TimerId refusedTimer = 0;
  Win32Status mappingCreationError = kErrorNotEnoughMemory;

  // --- System parts and records ----------------------------------------------------------------
  // HKEY_LOCAL_MACHINE of a 64-bit Windows, its two views kept apart. A key opened without a view flag
  // shows the opening process's own view: the simulated processes run the host's 64-bit build.
  SimRegistry registry;    // the 32-bit view, where the autostart value lives
  SimRegistry registry64;  // the 64-bit view
  SimServiceManager services;
  SimVersion version;
  SimPrivileges privileges;
  SimDialogs dialogs;

  std::vector<PostRecord> posts;
  std::vector<SwitchRecord> switches;
  std::vector<ForegroundGrantRecord> foregroundGrants;
  std::vector<ShellExecuteRecord> shellExecutes;
  std::vector<MappingCreationRecord> mappingCreations;
  [[nodiscard]] std::vector<PostRecord> PostsOf(std::uint32_t message) const;
  [[nodiscard]] const std::vector<std::string>& Faults() const { return faults_; }
  void Fault(std::string what) { faults_.push_back(std::move(what)); }

 private:
  friend class SimProcess;
  friend class SimProduct;

  struct Mapping {
    int handles = 0;
    int externalHandles = 0;
    bool restricted = false;
  };
  struct Mutex {
    int handles = 0;
    std::uint32_t owner = 0;
    bool abandoned = false;
  };
  struct Background {
    Ms at;
    std::uint64_t order;
    std::function<void()> work;
  };

  SimProcess& AddProcess(std::wstring commandLine, AnsiString modulePath);
  WindowHandle NewWindow(std::string className, std::string caption, std::uint32_t processId);
  std::uintptr_t NewHandleValue() { return nextHandle_ += 4; }
  std::uint32_t NewProcessId() { return nextProcessId_ += 4; }

  // Time: moves the clock to `time`, marking ticks due and running background work on the way; no
  // handler of an agent runs.
  void MoveClockTo(Ms time);
  // Moves the clock to `time` event by event; with `deliver`, agents handle each event's messages
  // and ticks before the next.
  void WalkClockTo(Ms time, bool deliver);
  [[nodiscard]] std::optional<Ms> NextTimedEvent() const;
  void FireDueEvents();

  // Delivery.
  [[nodiscard]] bool CanReceive(const SimProcess& process) const;
  bool DeliverOne(SimProcess& process);
  // `sent`: the message comes from SendMessage, and its sender waits until it is answered.
  MessageResult Dispatch(SimProcess& process, SimWindow& window, std::uint32_t message, MessageWParam wParam,
                         MessageLParam lParam, bool sent = false);
  void EnterHandler(SimProcess& process) { ++process.depth_; }
  void LeaveHandler(SimProcess& process);
  [[nodiscard]] static bool LoopEnds(const SimProcess& process);
  void ReapFinished();
  void EndProcess(SimProcess& process);
  void KillProcess(std::uint32_t processId);
  bool PostFrom(std::uint32_t fromProcess, WindowHandle window, std::uint32_t message, MessageWParam wParam,
                MessageLParam lParam);
  void OnWindowDestroyed(SimWindow& window);

  void AddMappingHandle(const std::string& name) { ++mappings_[name].handles; }
  void ReleaseMutexHandle(const std::string& name);
  // What ending a process does to the mutexes it owns: each is abandoned.
  void AbandonMutexesOf(std::uint32_t processId);
  void ReleaseMappingHandle(const std::string& name);

  Ms now_ = 0;
  std::uintptr_t nextHandle_ = 0x1000;
  std::uint32_t nextProcessId_ = 1000;
  std::uint64_t backgroundOrder_ = 0;
  std::vector<std::unique_ptr<SimProcess>> processes_;
  std::vector<std::unique_ptr<SimProduct>> products_;
  std::map<std::uintptr_t, SimWindow> windows_;
  std::vector<WindowHandle> zOrder_;  // newest first, as new top-level windows go on top
  std::map<std::string, Mapping> mappings_;
  std::map<std::string, Mutex> mutexes_;
  std::vector<Background> background_;
  std::vector<std::string> faults_;
};

}  // namespace velmor::sim
