#include "tests/host/sim/SimDesktop.h"

#include <algorithm>
#include <utility>

#include "app/AgentWindow.h"
#include "peers/AgentContract.h"
#include "peers/ProductPeers.h"
#include "platform/AgentMessages.h"
#include "platform/AsciiCase.h"

namespace velmor::sim {
namespace {

// Bounds a run of deliveries without any time passing: beyond it the agents livelock.
constexpr int kMaxDeliveriesPerRun = 100000;

}  // namespace

SimDesktop::SimDesktop() = default;

SimDesktop::~SimDesktop() {
  // The session ends: the agents' objects go first, while the desktop they call into still exists.
  for (auto& process : processes_) {
    process->terminated_ = true;
    process->window_.reset();
    process->state_.reset();
  }
}

// --- Time and scheduling -----------------------------------------------------------------------

void SimDesktop::At(Ms time, std::function<void()> work) {
  background_.push_back({std::max(time, now_), backgroundOrder_++, std::move(work)});
}

std::optional<Ms> SimDesktop::NextTimedEvent() const {
  std::optional<Ms> next;
  auto consider = [&next](Ms time) { next = next ? std::min(*next, time) : time; };
  for (const auto& [value, window] : windows_) {
    if (!window.alive) {
      continue;
    }
    for (const auto& [id, timer] : window.timers) {
      consider(timer.nextDue);
    }
  }
  for (const Background& work : background_) {
    consider(work.at);
  }
  return next;
}

void SimDesktop::FireDueEvents() {
  for (auto& [value, window] : windows_) {
    if (!window.alive) {
      continue;
    }
    for (auto& [id, timer] : window.timers) {
      if (timer.nextDue > now_) {
        continue;
      }
      // Ticks do not pile up: at most one is pending, and the next one is counted from this one.
      if (!timer.pending) {
        timer.pending = true;
        timer.pendingSince = timer.nextDue;
      }
      while (timer.nextDue <= now_) {
        timer.nextDue += timer.intervalMs;
      }
    }
  }
  // Background work in time order, then in the order it was scheduled; it may schedule more.
  while (true) {
    auto due = std::min_element(background_.begin(), background_.end(), [](const Background& a, const Background& b) {
      return a.at != b.at ? a.at < b.at : a.order < b.order;
    });
    if (due == background_.end() || due->at > now_) {
      break;
    }
    std::function<void()> work = std::move(due->work);
    background_.erase(due);
    work();
  }
}

void SimDesktop::WalkClockTo(Ms time, bool deliver) {
  while (true) {
    const std::optional<Ms> next = NextTimedEvent();
    if (!next || *next > time) {
      break;
    }
    now_ = std::max(now_, *next);
    FireDueEvents();
    if (deliver) {
      RunUntilIdle();
    }
  }
  now_ = std::max(now_, time);
}

void SimDesktop::MoveClockTo(Ms time) {
  WalkClockTo(time, /*deliver=*/false);
}

void SimDesktop::RunUntilIdle() {
  ReapFinished();
  int budget = kMaxDeliveriesPerRun;
  while (true) {
    bool delivered = false;
    for (std::size_t i = 0; i < processes_.size(); ++i) {
      SimProcess& process = *processes_[i];
      if (CanReceive(process) && DeliverOne(process)) {
        delivered = true;
        if (--budget == 0) {
          Fault("livelock: messages or ticks keep coming without time passing");
          return;
        }
      }
    }
    if (!delivered) {
      break;
    }
  }
  ReapFinished();
}

void SimDesktop::AdvanceTo(Ms time) {
  RunUntilIdle();
  WalkClockTo(time, /*deliver=*/true);
  RunUntilIdle();
}

void SimDesktop::AdvanceBy(Ms milliseconds) {
  AdvanceTo(now_ + milliseconds);
}

bool SimDesktop::AdvanceUntil(const std::function<bool()>& done, Ms limit) {
  const Ms end = now_ + limit;
  RunUntilIdle();
  while (!done()) {
    const std::optional<Ms> next = NextTimedEvent();
    if (!next || *next > end) {
      now_ = std::max(now_, end);
      RunUntilIdle();
      return done();
    }
    now_ = std::max(now_, *next);
    FireDueEvents();
    RunUntilIdle();
  }
  return true;
}

// --- Delivery ----------------------------------------------------------------------------------

bool SimDesktop::CanReceive(const SimProcess& process) const {
  if (process.ended_ || process.terminated_) {
    return false;
  }
  for (const auto& [value, window] : windows_) {
    if (window.alive && window.hung && window.processId == process.id_) {
      return false;  // the whole thread is stuck
    }
  }
  // Idle in its message loop, or inside a modal dialog's loop with no deeper handler running.
  return process.depth_ == 0 || (!process.modalDepths_.empty() && process.modalDepths_.back() == process.depth_);
}

bool SimDesktop::DeliverOne(SimProcess& process) {
  // Posted messages come before timer ticks, as in a Windows message queue.
  while (!process.queue_.empty()) {
    const QueuedMessage message = process.queue_.front();
    process.queue_.erase(process.queue_.begin());
    SimWindow* window = Window(message.window);
    if (window == nullptr || !window->alive) {
      continue;  // the window went meanwhile: the message is dropped
    }
    Dispatch(process, *window, message.message, message.wParam, message.lParam);
    return true;
  }
  SimWindow* tickWindow = nullptr;
  TimerId tickTimer{};
  Ms earliest = 0;
  for (auto& [value, window] : windows_) {
    if (!window.alive || window.processId != process.id_) {
      continue;
    }
    for (auto& [id, timer] : window.timers) {
      if (timer.pending && (tickWindow == nullptr || timer.pendingSince < earliest)) {
        tickWindow = &window;
        tickTimer = id;
        earliest = timer.pendingSince;
      }
    }
  }
  // A quit request comes before any tick: once it stands, only what was posted is still handled.
  if (tickWindow == nullptr || process.quitRequested_) {
    return false;
  }
  tickWindow->timers[tickTimer].pending = false;
  AgentWindowEvents* events = tickWindow->events;
  if (events != nullptr) {
    EnterHandler(process);
    events->OnTimer(tickTimer);
    LeaveHandler(process);
  }
  return true;
}

MessageResult SimDesktop::Dispatch(SimProcess& process, SimWindow& window, std::uint32_t message, MessageWParam wParam,
                                   MessageLParam lParam, bool sent) {
  AgentWindowEvents* events = window.events;
  if (events == nullptr) {
    return 0;
  }
  // Through the same map as the Windows implementation; every other message gets the default
  // handling, which here does nothing.
  EnterHandler(process);
  process.sendersWaiting_.push_back(sent);
  DeliverAgentMessage(*events, message, wParam, lParam);
  process.sendersWaiting_.pop_back();
  LeaveHandler(process);
  return 0;
}

bool SimDesktop::LoopEnds(const SimProcess& process) {
  // Back in its message loop, which ends on the quit request once the messages posted before it
  // are handled (or at once when the process was terminated).
  return process.depth_ == 0 && !process.ended_ &&
         (process.terminated_ || (process.quitRequested_ && process.queue_.empty()));
}

void SimDesktop::LeaveHandler(SimProcess& process) {
  --process.depth_;
  if (LoopEnds(process)) {
    EndProcess(process);
  }
}

void SimDesktop::ReapFinished() {
  for (std::size_t i = 0; i < processes_.size(); ++i) {
    SimProcess& process = *processes_[i];
    if (LoopEnds(process)) {
      EndProcess(process);
    }
  }
}

void SimDesktop::EndProcess(SimProcess& process) {
  // RunAgent returns: its locals go in reverse order, the window first, then the state.
  process.window_.reset();
  process.state_.reset();
  AbandonMutexesOf(process.id_);
  // What the system reclaims from the process.
  process.ReleaseAllHandles(/*countAsLeft=*/true);
  for (auto& [value, window] : windows_) {
    if (window.alive && window.processId == process.id_) {
      OnWindowDestroyed(window);
    }
  }
  process.queue_.clear();
  process.ended_ = true;
  process.endedAt_ = now_;
}

void SimDesktop::KillProcess(std::uint32_t processId) {
  if (SimProcess* process = Process(processId)) {
    if (process->ended_ || process->terminated_) {
      return;
    }
    process->terminated_ = true;
    AbandonMutexesOf(processId);
    process->ReleaseAllHandles(/*countAsLeft=*/true);
    for (auto& [value, window] : windows_) {
      if (window.alive && window.processId == processId) {
        OnWindowDestroyed(window);
      }
    }
    process->queue_.clear();
    if (process->depth_ == 0) {
      EndProcess(*process);  // its objects go; every call they make is now a no-op
    }
    return;
  }
  for (auto& product : products_) {
    if (product->ProcessId() == processId) {
      DestroyWindow(product->Window());
    }
  }
}

// --- Processes ---------------------------------------------------------------------------------

SimProcess& SimDesktop::AddProcess(std::wstring commandLine, AnsiString modulePath) {
  processes_.push_back(
      std::make_unique<SimProcess>(*this, NewProcessId(), std::move(commandLine), std::move(modulePath)));
  return *processes_.back();
}

SimProcess& SimDesktop::LaunchAgent(std::wstring commandLine, AnsiString modulePath) {
  SimProcess& process = AddProcess(std::move(commandLine), std::move(modulePath));
  process.state_ = std::make_unique<AgentState>();
  process.window_ = std::make_unique<AgentWindow>(process, *process.state_);
  return process;
}

SimProcess& SimDesktop::CreateBareProcess(std::wstring commandLine, AnsiString modulePath) {
  return AddProcess(std::move(commandLine), std::move(modulePath));
}

void SimDesktop::Call(SimProcess& process, const std::function<void()>& work) {
  EnterHandler(process);
  work();
  LeaveHandler(process);
}

SimProcess* SimDesktop::Process(std::uint32_t id) {
  for (auto& process : processes_) {
    if (process->id_ == id) {
      return process.get();
    }
  }
  return nullptr;
}

// --- Windows -----------------------------------------------------------------------------------

WindowHandle SimDesktop::NewWindow(std::string className, std::string caption, std::uint32_t processId) {
  const WindowHandle handle{NewHandleValue()};
  SimWindow window;
  window.handle = handle;
  window.className = std::move(className);
  window.caption = std::move(caption);
  window.processId = processId;
  windows_[static_cast<std::uintptr_t>(handle)] = std::move(window);
  zOrder_.insert(zOrder_.begin(), handle);
  return handle;
}

WindowHandle SimDesktop::CreateForeignWindow(std::string_view className, std::string_view caption, bool visible,
                                             std::uint32_t ownerProcess) {
  const WindowHandle handle =
      NewWindow(std::string(className), std::string(caption), ownerProcess != 0 ? ownerProcess : NewProcessId());
  Window(handle)->visible = visible;
  Window(handle)->everShown = visible;
  return handle;
}

void SimDesktop::OnWindowDestroyed(SimWindow& window) {
  window.alive = false;
  window.visible = false;
  window.timers.clear();
  window.events = nullptr;
  if (SimProcess* owner = Process(window.processId)) {
    for (SimProcess::OpenDialog& dialog : owner->openDialogs_) {
      if (dialog.owner == window.handle) {
        dialog.ownerDestroyed = true;  // the dialog goes with its owner window
      }
    }
  }
}

void SimDesktop::DestroyWindow(WindowHandle handle) {
  SimWindow* window = Window(handle);
  if (window == nullptr || !window->alive) {
    return;
  }
  AgentWindowEvents* events = window->events;
  OnWindowDestroyed(*window);
  // An agent window destroyed by another program: its agent hears of it, as from the Windows loop.
  if (SimProcess* owner = Process(window->processId); events != nullptr && owner != nullptr && !owner->ended_) {
    Call(*owner, [events] { events->OnWindowGone(); });
  }
}

WindowHandle SimDesktop::FindWindow(std::string_view className, std::string_view caption, WindowHandle after) const {
  auto from = zOrder_.begin();
  if (after != kNoWindow) {
    from = std::find(zOrder_.begin(), zOrder_.end(), after);
    if (from == zOrder_.end()) {
      return kNoWindow;
    }
    ++from;
  }
  for (auto it = from; it != zOrder_.end(); ++it) {
    const WindowHandle handle = *it;
    const SimWindow& window = windows_.at(static_cast<std::uintptr_t>(handle));
    if (window.alive && EqualsIgnoringAsciiCase(window.className, className) &&
        EqualsIgnoringAsciiCase(window.caption, caption)) {
      return handle;
    }
  }
  return kNoWindow;
}

const SimWindow* SimDesktop::Window(WindowHandle window) const {
  const auto found = windows_.find(static_cast<std::uintptr_t>(window));
  return found == windows_.end() ? nullptr : &found->second;
}

SimWindow* SimDesktop::Window(WindowHandle window) {
  const auto found = windows_.find(static_cast<std::uintptr_t>(window));
  return found == windows_.end() ? nullptr : &found->second;
}

std::string SimDesktop::Caption(WindowHandle window) const {
  const SimWindow* found = Window(window);
  return found == nullptr ? std::string() : found->caption;
}

bool SimDesktop::Visible(WindowHandle window) const {
  const SimWindow* found = Window(window);
  return found != nullptr && found->alive && found->visible;
}

bool SimDesktop::EverShown(WindowHandle window) const {
  const SimWindow* found = Window(window);
  return found != nullptr && found->everShown;
}

bool SimDesktop::TimerRunning(WindowHandle window, TimerId timer) const {
  const SimWindow* found = Window(window);
  return found != nullptr && found->alive && found->timers.contains(timer);
}

std::uint32_t SimDesktop::TimerInterval(WindowHandle window, TimerId timer) const {
  return TimerRunning(window, timer) ? Window(window)->timers.at(timer).requestedMs : 0;
}

void SimDesktop::SetHung(WindowHandle window, bool hung) {
  if (SimWindow* found = Window(window)) {
    found->hung = hung;
  }
}

bool SimDesktop::PostFrom(std::uint32_t fromProcess, WindowHandle handle, std::uint32_t message, MessageWParam wParam,
                          MessageLParam lParam) {
  SimWindow* window = Window(handle);
  if (window == nullptr || !window->alive) {
    return false;
  }
  posts.push_back({fromProcess, handle, message, wParam, lParam, now_});
  if (window->product != nullptr) {
    if (!window->hung) {
      window->product->OnMessage(message, wParam, lParam);  // the product runs alongside
    }
    return true;
  }
  if (SimProcess* owner = Process(window->processId)) {
    owner->queue_.push_back({handle, message, wParam, lParam});
  }
  return true;
}

bool SimDesktop::Post(WindowHandle window, std::uint32_t message, MessageWParam wParam, MessageLParam lParam) {
  return PostFrom(0, window, message, wParam, lParam);
}

MessageResult SimDesktop::Send(WindowHandle handle, std::uint32_t message, MessageWParam wParam, MessageLParam lParam) {
  SimWindow* window = Window(handle);
  if (window == nullptr || !window->alive) {
    return 0;
  }
  if (window->hung) {
    Fault("a send from outside to a hung window never returns");
    return 0;
  }
  if (window->product != nullptr) {
    window->product->OnMessage(message, wParam, lParam);
    return 0;
  }
  SimProcess* owner = Process(window->processId);
  return owner == nullptr ? 0 : Dispatch(*owner, *window, message, wParam, lParam, /*sent=*/true);
}

std::vector<PostRecord> SimDesktop::PostsOf(std::uint32_t message) const {
  std::vector<PostRecord> matching;
  std::copy_if(posts.begin(), posts.end(), std::back_inserter(matching),
               [message](const PostRecord& post) { return post.message == message; });
  return matching;
}

// --- The product -------------------------------------------------------------------------------

SimProduct& SimDesktop::StartProduct(ProductStart start, std::optional<Ms> showAfterMs) {
  const std::uint32_t processId = NewProcessId();
  const WindowHandle handle =
      NewWindow(std::string(peers::kProductWindowClass), std::string(peers::kProductWindowCaption), processId);
  products_.push_back(std::make_unique<SimProduct>(*this, processId, handle, showAfterMs));
  Window(handle)->product = products_.back().get();
  if (start == ProductStart::Visible) {
    products_.back()->Show();
  }
  return *products_.back();
}

// --- Kernel objects ----------------------------------------------------------------------------

void SimDesktop::HoldExternalMapping(std::string_view name, bool restricted) {
  Mapping& mapping = mappings_[std::string(name)];
  ++mapping.externalHandles;
  mapping.restricted = mapping.restricted || restricted;
}

void SimDesktop::ReleaseExternalMapping(std::string_view name) {
  const auto found = mappings_.find(std::string(name));
  if (found == mappings_.end() || found->second.externalHandles == 0) {
    return;
  }
  --found->second.externalHandles;
  if (found->second.handles == 0 && found->second.externalHandles == 0) {
    mappings_.erase(found);
  }
}

void SimDesktop::ReleaseMappingHandle(const std::string& name) {
  const auto found = mappings_.find(name);
  if (found == mappings_.end()) {
    return;
  }
  --found->second.handles;
  if (found->second.handles == 0 && found->second.externalHandles == 0) {
    mappings_.erase(found);  // the last handle is gone, and the object with it
  }
}

void SimDesktop::ReleaseMutexHandle(const std::string& name) {
  const auto found = mutexes_.find(name);
  if (found != mutexes_.end() && --found->second.handles == 0) {
    mutexes_.erase(found);
  }
}

void SimDesktop::AbandonMutexesOf(std::uint32_t processId) {
  for (auto& [name, mutex] : mutexes_) {
    if (mutex.owner == processId) {
      mutex.owner = 0;
      mutex.abandoned = true;
    }
  }
}

std::uint32_t SimDesktop::MutexOwner(std::string_view name) const {
  const auto found = mutexes_.find(std::string(name));
  return found == mutexes_.end() ? 0 : found->second.owner;
}

bool SimDesktop::MappingExists(std::string_view name) const {
  return mappings_.contains(std::string(name));
}

bool SimDesktop::MappingRestricted(std::string_view name) const {
  const auto found = mappings_.find(std::string(name));
  return found != mappings_.end() && found->second.restricted;
}

int SimDesktop::MappingHandles(std::string_view name) const {
  const auto found = mappings_.find(std::string(name));
  return found == mappings_.end() ? 0 : found->second.handles + found->second.externalHandles;
}

}  // namespace velmor::sim
