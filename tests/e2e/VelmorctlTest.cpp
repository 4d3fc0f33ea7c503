// velmorctl.exe against the real agent: its usage errors, each command with and without a resident
// agent, a quit that times out while the agent is busy in its service request, the trace that tells
// which road each start took, a listener that never reads (the agent does not wait for it), the
// writers and buffers that velmorctl trace trusts, the build's version, and velmorctl doctor over
// desktops made to fail one way each.
#include <windows.h>
// tlhelp32.h uses the types of windows.h, included before it.
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "peers/AgentContract.h"
#include "peers/ProductPeers.h"
#include "platform/win32/DebugOutputChannel.h"
#include "tests/e2e/AgentTest.h"
#include "tests/shared/TraceLines.h"

namespace velmor::e2e {
namespace {

namespace debug_channel = velmor::win32impl::debug_channel;
using velmor::test::SaidAmong;

constexpr DWORD kDone = 0;
constexpr DWORD kNoAgent = 1;
constexpr DWORD kProblemFound = 1;
constexpr DWORD kUsageError = 2;
constexpr DWORD kTimedOut = 3;
constexpr DWORD kChannelTaken = 5;

class VelmorctlTest : public AgentTest {
 protected:
  static constexpr const char* kVelmorctl = "velmorctl.exe";

  static ConsoleRun Ctl(const std::string& arguments) {
    return RunConsoleProgram(ShippedFolder() + kVelmorctl, arguments, 60s + StartCost());
  }

  // "trace --seconds N" for a listener that must hear `starts` programs start: each start costs
  // StartCost() more under an emulator.
  static std::string TraceFor(std::chrono::seconds listening, int starts) {
    const auto total = std::chrono::duration_cast<std::chrono::seconds>(listening + starts * StartCost());
    return "trace --seconds " + std::to_string(total.count());
  }

  static void ExpectExit(const std::string& arguments, DWORD expected) {
    const ConsoleRun run = Ctl(arguments);
    EXPECT_EQ(run.exitCode, expected) << "velmorctl " << arguments << " printed:\n" << run.output;
  }
};

TEST_F(VelmorctlTest, WithoutAgentEveryCommandSaysNoAgentAndBadUsageIsRejected) {
  ExpectExit("status", kNoAgent);
  ExpectExit("quit", kNoAgent);
  ExpectExit("open home", kNoAgent);
  for (const char* bad : {"", "frobnicate", "status now", "open", "open nowhere", "quit --wait", "quit --wait x",
                          "quit --wait -1", "quit --wait 86401", "quit --linger 5"}) {
    ExpectExit(bad, kUsageError);
  }
  const ConsoleRun help = Ctl("help");
  EXPECT_EQ(help.exitCode, kDone);
  EXPECT_NE(help.output.find("exit codes"), std::string::npos) << help.output;
  // The line under "open PAGE" names every page of the contract.
  const std::size_t pagesAt = help.output.find('\n', help.output.find("velmorctl open PAGE")) + 1;
  const std::string pageLine = help.output.substr(pagesAt, help.output.find('\n', pagesAt) - pagesAt);
  for (const peers::WebPage& page : peers::kWebPages) {
    EXPECT_NE(pageLine.find(Narrow(std::wstring(page.name))), std::string::npos) << "the contract's pages";
  }
}

TEST_F(VelmorctlTest, DrivesResidentAgent) {
  StartProductWindow("--visible");
  ChildProcess& agent = StartAgent("1");
  ASSERT_NE(WaitForNamedAgent(agent), nullptr);

  const ConsoleRun status = Ctl("status");
  EXPECT_EQ(status.exitCode, kDone);
  EXPECT_NE(status.output.find("process id: " + std::to_string(agent.Id()) + "\n"), std::string::npos) << status.output;
  EXPECT_NE(status.output.find("image path: " + AgentPath()), std::string::npos) << status.output;

  ExpectExit("open contact", kDone);
  EXPECT_TRUE(WaitUntil([this] { return !LogLines(UrlLog()).empty(); }, kStartBound));
  EXPECT_EQ(LogLines(UrlLog()), std::vector<std::string>{std::string(VELMOR_WEB_SITE) + "/contact"});

  // When quit returns done, the agent's process has ended.
  ExpectExit("quit --wait 20", kDone);
  EXPECT_EQ(agent.WaitForExit(0ms), 0U);
  ExpectExit("status", kNoAgent);
}

// A window of this process (not velmor.exe) that bears the agent's class and caption, made on a thread
// of its own that serves its messages, as a program squatting the agent's name would: it counts the
// command messages it is sent, and ignores them.
class NameSquatter {
 public:
  NameSquatter() : thread_([this] { Serve(); }) {
    WaitUntil([this] { return window_.load() != nullptr; }, 5s);
  }
  NameSquatter(const NameSquatter&) = delete;
  NameSquatter& operator=(const NameSquatter&) = delete;
  ~NameSquatter() {
    ::PostMessageA(window_.load(), WM_CLOSE, 0, 0);
    thread_.join();
  }
  [[nodiscard]] HWND Window() const { return window_.load(); }
  [[nodiscard]] int CommandsSeen() const { return commands.load(); }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == peers::kAgentCommandMessage) {
      ++commands;
      return 0;
    }
    if (message == WM_DESTROY) {
      ::PostQuitMessage(0);
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
  }

  void Serve() {
    const std::string className(peers::kAgentWindowClass);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className.c_str();
    ::RegisterClassA(&windowClass);  // fails harmlessly when an earlier squatter registered it
    window_ = ::CreateWindowExA(0, className.c_str(), std::string(peers::kAgentWindowCaption).c_str(), WS_POPUP, 0, 0,
                                10, 10, nullptr, nullptr, windowClass.hInstance, nullptr);
    MSG message{};
    while (window_.load() != nullptr && ::GetMessageA(&message, nullptr, 0, 0) > 0) {
      ::DispatchMessageA(&message);
    }
  }

  static inline std::atomic<int> commands{0};
  std::atomic<HWND> window_{nullptr};
  std::thread thread_;
};

// The JSON object of one check in `velmorctl doctor --json`, empty when there is none.
std::string JsonCheck(const std::string& output, const std::string& check) {
  const std::size_t start = output.find("{\"check\": \"" + check + "\"");
  return start == std::string::npos ? std::string() : output.substr(start, output.find('}', start) - start + 1);
}

// A program names a window of its own as the agent's after the agent did, so that it is found first:
// velmorctl tells the two apart as the agents do. It reports, asks and waits on the agent alone, sends
// the program nothing, and doctor names the program as a problem.
TEST_F(VelmorctlTest, WindowOfAnotherProgramBearingTheAgentsNameIsToldFromTheAgent) {
  StartProductWindow("--visible");
  ChildProcess& agent = StartAgent("1");
  ASSERT_NE(WaitForNamedAgent(agent), nullptr);
  const NameSquatter squatter;
  ASSERT_EQ(FindNamedAgentWindow(), squatter.Window()) << "the program's window must come first";
  const std::string agentId = std::to_string(agent.Id());
  const std::string squatterId = std::to_string(::GetCurrentProcessId());

  const ConsoleRun status = Ctl("status");
  EXPECT_EQ(status.exitCode, kDone);
  EXPECT_NE(status.output.find("process id: " + agentId + "\nimage path: " + AgentPath()), std::string::npos)
      << status.output;

  ExpectExit("open contact", kDone);
  EXPECT_TRUE(WaitUntil([this] { return !LogLines(UrlLog()).empty(); }, kStartBound));
  EXPECT_EQ(LogLines(UrlLog()), std::vector<std::string>{std::string(VELMOR_WEB_SITE) + "/contact"});

  const ConsoleRun doctor = Ctl("doctor --json");
  EXPECT_EQ(doctor.exitCode, kProblemFound);
  EXPECT_EQ(doctor.output.rfind("{\"schemaVersion\": 2, \"healthy\": false", 0), 0U) << doctor.output;
  EXPECT_NE(JsonCheck(doctor.output, "agent")
                .find("\"ok\", \"reason\": \"agent-resident\", \"detail\": \"resident, process " + agentId + ","),
            std::string::npos)
      << doctor.output;
  const std::string named = JsonCheck(doctor.output, "agent name");
  EXPECT_NE(named.find("\"problem\", \"reason\": \"agent-name-borne-by-program\", \"detail\": \"a window of "
                       "another program bears it: process " +
                       squatterId + ", "),
            std::string::npos)
      << doctor.output;
  EXPECT_NE(named.find("velmor_e2e_tests.exe"), std::string::npos) << named;

  ExpectExit("quit --wait 20", kDone);
  EXPECT_EQ(agent.WaitForExit(0ms), 0U) << "the agent still runs";
  EXPECT_EQ(squatter.CommandsSeen(), 0) << "the program was sent a command";
  ExpectExit("status", kNoAgent);
}

// While the agent retries its service request it handles no command: the quit waits in its queue.
// Without a wait, delivering it is done.
TEST_F(VelmorctlTest, QuitTimesOutWhileAgentIsBusyAndTakesEffectAfterwards) {
  InstallService();
  ChildProcess& agent = StartAgent("1");
  ASSERT_NE(WaitForNamedAgent(agent), nullptr);

  ExpectExit("quit --wait 0", kDone);
  ExpectExit("quit --wait 1", kTimedOut);
  EXPECT_TRUE(agent.IsRunning());
  ASSERT_EQ(StartServiceStandin(), 0U);
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U) << "the queued quit was not handled";
  ExpectExit("status", kNoAgent);
}

// Whether a listener holds the debug output channel (the event it made exists).
bool TraceChannelHeld() {
  UniqueWin32Handle event(::OpenEventW(SYNCHRONIZE, FALSE, debug_channel::kBufferReadyName));
  return static_cast<bool>(event);
}

// The lines `velmorctl trace` printed for the agent process `processId`, time stamp removed.
std::vector<std::string> TraceOf(const std::string& output, DWORD processId) {
  const std::string agent = "velmor " + std::to_string(processId) + ": ";
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = output.find('\n'); end != std::string::npos; end = output.find('\n', start)) {
    const std::string line = output.substr(start, end - start);
    start = end + 1;
    // "hh:mm:ss.mmm velmor <id>: ..."
    if (line.size() > 13 && line[2] == ':' && line[8] == '.' && line.compare(13, agent.size(), agent) == 0) {
      lines.push_back(line.substr(13 + agent.size()));
    }
  }
  return lines;
}

// A user start that brings the product up and stays, a second agent that brings it forward and ends,
// a quit, and a logon start switched off: `velmorctl trace` shows each agent's road.
TEST_F(VelmorctlTest, TraceTellsTheRoadOfEachStart) {
  InstallService(LaunchProductWindowOption("200"));
  ASSERT_EQ(StartServiceStandin(), 0U);
  std::future<ConsoleRun> trace = std::async(std::launch::async, [] { return Ctl(TraceFor(20s, 4)); });
  ASSERT_TRUE(WaitUntil(TraceChannelHeld, kStartBound));
  EXPECT_EQ(Ctl("trace --seconds 1").exitCode, kChannelTaken) << "a second listener is told the channel is taken";

  ChildProcess& first = StartAgent("");
  HWND window = WaitForNamedAgent(first);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitUntil([] { return ::IsWindowVisible(ProductWindow()) != FALSE; }, 30s + StartCost()));
  ChildProcess& second = StartAgent("");
  EXPECT_EQ(second.WaitForExit(kExitBound), 0U);
  EXPECT_EQ(QuitByCommand(window, first), 0U);
  ASSERT_TRUE(WriteAutostart(Quote(AgentPath()) + " 0"));
  ChildProcess& logon = StartAgent("1");
  EXPECT_EQ(logon.WaitForExit(kExitBound), 0U);

  const ConsoleRun run = trace.get();
  EXPECT_EQ(run.exitCode, kDone) << run.output;
  const std::vector<std::string> user = TraceOf(run.output, first.Id());
  EXPECT_TRUE(SaidAmong(user, "start arg=none marker=new product=absent"));
  EXPECT_TRUE(SaidAmong(user, "service attempts=1 result=0"));
  EXPECT_TRUE(SaidAmong(user, "resident"));
  EXPECT_TRUE(SaidAmong(user, "command wparam=0 lparam=0 action=quit"));
  EXPECT_TRUE(SaidAmong(user, "end reason=quit-command"));
  const std::vector<std::string> secondAgent = TraceOf(run.output, second.Id());
  EXPECT_TRUE(SaidAmong(secondAgent, "marker=existed"));
  EXPECT_TRUE(SaidAmong(secondAgent, "road second-agent=bring-product-forward"));
  EXPECT_TRUE(SaidAmong(secondAgent, "end reason=activation-done"));
  EXPECT_TRUE(SaidAmong(TraceOf(run.output, logon.Id()), "end reason=switched-off"));
}

// One version everywhere: the version resources of both programs (text and numbers), velmorctl
// --version and the line that starts the agent's trace all carry the build's version.
TEST_F(VelmorctlTest, TheBuildsVersionIsInTheResourcesTheVersionOptionAndTheTrace) {
  const std::string version = VELMOR_TEST_VERSION;
  const std::string numbers = std::count(version.begin(), version.end(), '.') == 2 ? version + ".0" : version;
  for (const std::string& program : {AgentPath(), ShippedFolder() + "velmorctl.exe"}) {
    EXPECT_EQ(FileVersionOf(program), version) << program;
    EXPECT_EQ(FixedFileVersionOf(program), numbers) << program;
  }
  const ConsoleRun printed = Ctl("--version");
  EXPECT_EQ(printed.exitCode, kDone);
  EXPECT_EQ(printed.output, version + "\n");

  std::future<ConsoleRun> trace = std::async(std::launch::async, [] { return Ctl(TraceFor(8s, 1)); });
  ASSERT_TRUE(WaitUntil(TraceChannelHeld, kStartBound));
  StartProductWindow("--visible");
  ChildProcess& agent = StartAgent("1");
  ASSERT_NE(WaitForNamedAgent(agent), nullptr);
  const ConsoleRun run = trace.get();
  const std::vector<std::string> lines = TraceOf(run.output, agent.Id());
  ASSERT_FALSE(lines.empty()) << run.output;
  EXPECT_EQ(lines.front().rfind("start ", 0), 0U) << lines.front();
  EXPECT_TRUE(lines.front().ends_with(" version=" + version)) << lines.front();
}

// The debug output channel as a program posing as a listener holds it: its events and buffer made,
// the buffer never handed to a writer; and, when asked, the writers' mutex taken and kept.
class StalledListener {
 public:
  explicit StalledListener(bool holdMutex)
      : bufferReady_(::CreateEventW(nullptr, FALSE, FALSE, debug_channel::kBufferReadyName)),
        dataReady_(::CreateEventW(nullptr, FALSE, FALSE, debug_channel::kDataReadyName)),
        buffer_(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, debug_channel::kBufferSize,
                                     debug_channel::kBufferName)),
        mutex_(holdMutex ? ::CreateMutexW(nullptr, FALSE, debug_channel::kWritersMutexName) : nullptr) {
    // The mutex may exist already (a program that wrote a line keeps it open): taken, not created owned.
    mutexTaken_ = mutex_ && ::WaitForSingleObject(mutex_.get(), 0) == WAIT_OBJECT_0;
  }
  StalledListener(const StalledListener&) = delete;
  StalledListener& operator=(const StalledListener&) = delete;
  ~StalledListener() {
    if (mutexTaken_) {
      ::ReleaseMutex(mutex_.get());
    }
  }
  [[nodiscard]] bool Holds() const { return bufferReady_ && dataReady_ && buffer_ && (!mutex_ || mutexTaken_); }

 private:
  UniqueWin32Handle bufferReady_;
  UniqueWin32Handle dataReady_;
  UniqueWin32Handle buffer_;
  UniqueWin32Handle mutex_;
  bool mutexTaken_ = false;
};

// A listener that never reads, and one that also keeps the writers' mutex: a resident agent still
// starts and quits at once, its lines that cannot go dropped.
TEST_F(VelmorctlTest, ListenerThatDoesNotReadNeverHoldsTheAgentUp) {
  StartProductWindow("--visible");
  for (const bool holdMutex : {false, true}) {
    SCOPED_TRACE(holdMutex ? "the writers' mutex held" : "the buffer never handed over");
    const StalledListener listener(holdMutex);
    ASSERT_TRUE(listener.Holds());
    ChildProcess& agent = StartAgent("1");
    HWND window = WaitForNamedAgent(agent);
    ASSERT_NE(window, nullptr);
    // Two lines, the command and the end, lie between the quit command and the end of the process.
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(QuitByCommand(window, agent), 0U);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    EXPECT_LT(took.count(), 2000) << "the quit took " << took.count() << " ms";
  }
}

// velmorctl shows only the lines that a velmor.exe process wrote (this test process writes one that
// names its own id), listens only on a buffer it made: one that exists already may be a squatter's,
// and ends, handing the channel back, once nobody reads its output (`velmorctl trace | head -c 10`).
TEST_F(VelmorctlTest, TraceShowsOnlyTheAgentsLinesOnABufferOfItsOwn) {
  {
    const UniqueWin32Handle squatted(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                          debug_channel::kBufferSize, debug_channel::kBufferName));
    ASSERT_TRUE(squatted);
    const ConsoleRun refused = Ctl("trace --seconds 1");
    EXPECT_EQ(refused.exitCode, kChannelTaken) << refused.output;
  }
  const ConsoleRun headed = RunConsoleProgram(ShippedFolder() + kVelmorctl, "trace", 20s + StartCost(), 10);
  EXPECT_EQ(headed.exitCode, kDone) << "still listening once its output was closed: " << headed.output;
  EXPECT_FALSE(TraceChannelHeld());

  StartProductWindow("--visible");
  std::future<ConsoleRun> trace = std::async(std::launch::async, [] { return Ctl(TraceFor(8s, 1)); });
  ASSERT_TRUE(WaitUntil(TraceChannelHeld, kStartBound));
  const std::string forged = "velmor " + std::to_string(::GetCurrentProcessId()) + ": end reason=forged\n";
  ::OutputDebugStringA(forged.c_str());
  ChildProcess& agent = StartAgent("1");
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(QuitByCommand(window, agent), 0U);

  const ConsoleRun run = trace.get();
  EXPECT_EQ(run.exitCode, kDone) << run.output;
  EXPECT_TRUE(SaidAmong(TraceOf(run.output, agent.Id()), "end reason=quit-command"));
  EXPECT_TRUE(TraceOf(run.output, ::GetCurrentProcessId()).empty()) << run.output;
}

// The line that `velmorctl doctor` printed for one check ("<verdict>  <check>: <detail>"), empty
// when there is none.
std::string DoctorLine(const std::string& output, const std::string& check) {
  std::size_t start = 0;
  for (std::size_t end = output.find('\n'); end != std::string::npos; end = output.find('\n', start)) {
    const std::string line = output.substr(start, end - start);
    start = end + 1;
    const std::size_t name = line.find_first_not_of(' ', line.find(' '));
    if (line.rfind(' ', 0) != 0 && name != std::string::npos &&
        line.compare(name, check.size() + 2, check + ": ") == 0) {
      return line;
    }
  }
  return {};
}

::testing::AssertionResult SaysOn(const ConsoleRun& run, const std::string& check, const std::string& verdict,
                                  const std::string& words) {
  const std::string line = DoctorLine(run.output, check);
  if (line.rfind(verdict + " ", 0) == 0 && line.find(words) != std::string::npos) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "no \"" << verdict << " " << check << ": ..." << words << "...\" in:\n"
                                       << run.output;
}

// A product window that stops answering, as a hung product's does: made on a thread of this process
// that then waits without serving its messages until the window is no longer wanted.
class HungProductWindow {
 public:
  HungProductWindow() : release_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this] { Hang(); }) {
    WaitUntil([this] { return window_.load() != nullptr; }, 5s);
  }
  HungProductWindow(const HungProductWindow&) = delete;
  HungProductWindow& operator=(const HungProductWindow&) = delete;
  ~HungProductWindow() {
    ::SetEvent(release_.get());
    thread_.join();
  }
  [[nodiscard]] HWND Window() const { return window_.load(); }

 private:
  void Hang() {
    const std::string className(peers::kProductWindowClass);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcA;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className.c_str();
    ::RegisterClassA(&windowClass);  // fails harmlessly when this process registered the class before
    const HWND window =
        ::CreateWindowExA(0, className.c_str(), std::string(peers::kProductWindowCaption).c_str(),
                          WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, windowClass.hInstance, nullptr);
    window_ = window;
    ::WaitForSingleObject(release_.get(), INFINITE);  // no message is served meanwhile
    ::DestroyWindow(window);
  }

  UniqueWin32Handle release_;
  std::atomic<HWND> window_{nullptr};
  std::thread thread_;
};

// The threads of a process held still, as a hung program's are, until this ends.
class ThreadsHeld {
 public:
  explicit ThreadsHeld(DWORD processId) {
    const UniqueWin32Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more != FALSE;
         more = ::Thread32Next(snapshot.get(), &entry)) {
      if (entry.th32OwnerProcessID != processId) {
        continue;
      }
      UniqueWin32Handle thread(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
      if (thread && ::SuspendThread(thread.get()) != static_cast<DWORD>(-1)) {
        threads_.push_back(std::move(thread));
      }
    }
  }
  ThreadsHeld(const ThreadsHeld&) = delete;
  ThreadsHeld& operator=(const ThreadsHeld&) = delete;
  ~ThreadsHeld() {
    for (const UniqueWin32Handle& thread : threads_) {
      ::ResumeThread(thread.get());
    }
  }
  [[nodiscard]] bool Any() const { return !threads_.empty(); }

 private:
  std::vector<UniqueWin32Handle> threads_;
};

// Writes a value of the current user's hive, and removes it again when done.
class UserValue {
 public:
  UserValue(const char* key, const std::string& name, DWORD type, const std::string& data) : key_(key), name_(name) {
    written_ = ::RegSetKeyValueA(HKEY_CURRENT_USER, key, name.c_str(), type, data.data(),
                                 static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
  }
  UserValue(const UserValue&) = delete;
  UserValue& operator=(const UserValue&) = delete;
  ~UserValue() { ::RegDeleteKeyValueA(HKEY_CURRENT_USER, key_, name_.c_str()); }
  [[nodiscard]] bool Written() const { return written_; }

 private:
  const char* key_;
  std::string name_;
  bool written_ = false;
};

// One desktop made healthy, then made to fail one way at a time, each failure undone before the next:
// doctor names each on the line of its check, exits with 1 for a problem and 0 for a warning alone.
// It proves the gathering: what each check is given on a real desktop; what it decides on every other
// desktop is the host tier's (doctor_judges_test.cpp). Lines it does not stage may say anything.
TEST_F(VelmorctlTest, DoctorNamesWhatKeepsTheProductDownOnTheLineOfItsCheck) {
  if (RunningUnderWine()) {
    // Wine tells each program its own Windows version, a fresh prefix Windows 7.
    const std::string path = std::string("Software\\Wine\\AppDefaults\\") + kVelmorctl;
    ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), "Version", REG_SZ, "win10", 6), ERROR_SUCCESS);
  }
  ExpectExit("doctor --xml", kUsageError);
  {
    const ConsoleRun usage = Ctl("doctor --json now");
    EXPECT_EQ(usage.exitCode, kUsageError);
    EXPECT_EQ(usage.output,
              "{\"schemaVersion\": 2, \"error\": \"usage\", \"message\": \"doctor takes only --json\"}\n");
  }

  const std::string healthyValue = Quote(AgentPath()) + " 1";
  ASSERT_TRUE(WriteAutostart(healthyValue));
  InstallService();
  ASSERT_EQ(StartServiceStandin(), 0U);
  ChildProcess& product = StartProductWindow("--visible");
  ChildProcess& agent = StartAgent("1");
  ASSERT_NE(WaitForNamedAgent(agent), nullptr);
  const std::string agentId = std::to_string(agent.Id());
  {
    SCOPED_TRACE("healthy");
    const ConsoleRun run = Ctl("doctor");
    EXPECT_EQ(run.exitCode, kDone) << run.output;
    EXPECT_EQ(run.output.find("\nproblem "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\nhealthy, "), std::string::npos) << run.output;
    EXPECT_TRUE(SaysOn(run, "startup switch", "ok", "on: no switch recorded"));
    EXPECT_TRUE(SaysOn(run, "second agent", "ok", "none waits"));
    EXPECT_TRUE(SaysOn(run, "compatibility mode", "ok", "none set on velmor.exe"));
    EXPECT_TRUE(SaysOn(run, "autostart argument", "ok", "\"1\": a logon start"));
    EXPECT_TRUE(SaysOn(run, "agent", "ok",
                       "resident, process " + std::to_string(agent.Id()) + ", version " + VELMOR_TEST_VERSION));
    EXPECT_TRUE(SaysOn(run, "agent name", "ok", "borne by the agent's window alone"));
    EXPECT_TRUE(SaysOn(run, "residence lock", "ok", "held while the agent is resident"));
    EXPECT_TRUE(SaysOn(run, "service", "ok", "running"));
    EXPECT_TRUE(SaysOn(run, "product window", "ok", "visible"));
    const ConsoleRun json = Ctl("doctor --json");
    EXPECT_EQ(json.exitCode, kDone);
    EXPECT_EQ(json.output.rfind("{\"schemaVersion\": 2, \"healthy\": true, \"problems\": 0, ", 0), 0U) << json.output;
    const std::string resident = JsonCheck(json.output, "agent");
    EXPECT_NE(resident.find("\"reason\": \"agent-resident\""), std::string::npos) << resident;
    EXPECT_NE(resident.find("\"pid\": " + agentId + ", \"path\": "), std::string::npos) << resident;
    EXPECT_NE(resident.find("\"fileVersion\": \"" VELMOR_TEST_VERSION "\""), std::string::npos) << resident;
    EXPECT_NE(JsonCheck(json.output, "service").find("\"serviceState\": \"running\""), std::string::npos)
        << json.output;
  }
  {
    SCOPED_TRACE("a compatibility mode on the agent");
    const UserValue layer(kCompatibilityLayersKey, AgentPath(), REG_SZ, std::string("~ WIN7RTM", 10));
    ASSERT_TRUE(layer.Written());
    const ConsoleRun run = Ctl("doctor");
    EXPECT_EQ(run.exitCode, kProblemFound) << run.output;
    EXPECT_TRUE(SaysOn(run, "compatibility mode", "problem", "WIN7RTM set on " + AgentPath() + " (HKCU)"));
  }
  {
    SCOPED_TRACE("the entry switched off in Task Manager");
    const UserValue off(kStartupSwitchKey, "Tessaly", REG_BINARY, std::string("\x03\0\0\0\0\0\0\0\0\0\0\0", 12));
    ASSERT_TRUE(off.Written());
    const ConsoleRun run = Ctl("doctor");
    EXPECT_EQ(run.exitCode, kProblemFound) << run.output;
    EXPECT_TRUE(SaysOn(run, "startup switch", "problem", "first byte 3"));
  }
  {
    SCOPED_TRACE("a hung product window");
    const HungProductWindow hung;
    ASSERT_EQ(FindProductWindow(), hung.Window()) << "the hung window must come first";
    const ConsoleRun run = Ctl("doctor");
    EXPECT_EQ(run.exitCode, kProblemFound) << run.output;
    EXPECT_TRUE(SaysOn(run, "product window", "problem", "not answering within 200 ms"));
    EXPECT_NE(run.output.find("taskkill /pid " + std::to_string(::GetCurrentProcessId()) + " /f"), std::string::npos)
        << run.output;
  }

  struct ValueCase {
    const char* what;
    std::string value;
    DWORD exitCode;
    const char* check;
    const char* verdict;
    const char* words;
  };
  for (const ValueCase& broken : std::vector<ValueCase>{
           {"switched off", Quote(AgentPath()) + " 0", kProblemFound, "autostart argument", "problem", "switched off"},
           {"no argument", Quote(AgentPath()), kDone, "autostart argument", "warning", "none: each logon is a start"},
           {"a missing file", Quote(CaseFolder() + "velmor.exe") + " 1", kProblemFound, "autostart path", "problem",
            "does not exist"}}) {
    SCOPED_TRACE(broken.what);
    ASSERT_TRUE(WriteAutostart(broken.value));
    const ConsoleRun run = Ctl("doctor");
    EXPECT_EQ(run.exitCode, broken.exitCode) << run.output;
    EXPECT_TRUE(SaysOn(run, broken.check, broken.verdict, broken.words));
  }
  ASSERT_TRUE(WriteAutostart(healthyValue));

  const std::string service(peers::kProductServiceName);
  RemoveServiceStandin();
  {
    SCOPED_TRACE("a missing service");
    const ConsoleRun run = Ctl("doctor");
    EXPECT_EQ(run.exitCode, kProblemFound);
    EXPECT_TRUE(SaysOn(run, "service", "problem", service + " is not installed"));
  }
  InstallService();
  {
    SCOPED_TRACE("a stopped service");
    const ConsoleRun run = Ctl("doctor");
    EXPECT_EQ(run.exitCode, kProblemFound);
    EXPECT_TRUE(SaysOn(run, "service", "problem", service + " is stopped"));
  }
  ASSERT_EQ(StartServiceStandin(), 0U);

  {
    SCOPED_TRACE("a hung agent, and the remedy that ends it");
    const ThreadsHeld held(agent.Id());
    ASSERT_TRUE(held.Any());
    const ConsoleRun run = Ctl("doctor");
    EXPECT_TRUE(SaysOn(run, "agent", "warning", "did not answer within 2 seconds"));
    const std::string remedy = "taskkill /pid " + agentId + " /f";
    ASSERT_NE(run.output.find(remedy), std::string::npos) << run.output;
    char system[MAX_PATH] = {};
    ASSERT_GT(::GetSystemDirectoryA(system, MAX_PATH), 0U);
    EXPECT_EQ(RunConsoleProgram(std::string(system) + "\\taskkill.exe", remedy.substr(remedy.find(' ') + 1), kExitBound)
                  .exitCode,
              0U);
    EXPECT_TRUE(agent.WaitForExit(kExitBound).has_value()) << "the remedy did not end the agent";
  }
  {
    SCOPED_TRACE("no agent");
    const ConsoleRun run = Ctl("doctor");
    EXPECT_EQ(run.exitCode, kProblemFound);
    EXPECT_TRUE(SaysOn(run, "agent", "problem", "no agent is resident"));
    EXPECT_TRUE(SaysOn(run, "agent name", "ok", "borne by no window"));
    EXPECT_TRUE(SaysOn(run, "marker", "ok", "absent"));
    EXPECT_TRUE(SaysOn(run, "residence lock", "ok", "absent"));
  }
  {
    SCOPED_TRACE("the lock squatted by a program, then let go after an agent started");
    UniqueWin32Handle squatter(::CreateMutexA(nullptr, TRUE, std::string(peers::kResidenceLockName).c_str()));
    ASSERT_TRUE(squatter);
    const ConsoleRun run = Ctl("doctor --json");
    EXPECT_NE(JsonCheck(run.output, "residence lock")
                  .find("\"status\": \"warning\", \"reason\": \"lock-held-by-program\", \"detail\": \"held by a "
                        "program while no agent answers"),
              std::string::npos)
        << run.output;
    // The agent stays without the lock, as no program may switch it off; once the program has let go,
    // the lock is free while the agent, not elevated, stays.
    ChildProcess& stays = StartAgent("1");
    ASSERT_NE(WaitForNamedAgent(stays), nullptr);
    ::ReleaseMutex(squatter.get());
    squatter.reset();
    const ConsoleRun after = Ctl("doctor");
    EXPECT_TRUE(SaysOn(after, "residence lock", "warning",
                       "free although an agent is resident, not elevated: it stays without the lock"));
  }
  {
    SCOPED_TRACE("a second agent waiting to take over");
    product.Terminate();
    ChildProcess& second = StartAgent("");
    ASSERT_NE(WaitForAgentWindow(second), nullptr);
    const ConsoleRun run = Ctl("doctor");
    EXPECT_TRUE(SaysOn(run, "second agent", "warning", "process " + std::to_string(second.Id()) + ", started "));
    EXPECT_TRUE(SaysOn(run, "second agent", "warning", "its takeover falls due in about "));
  }
}

}  // namespace
}  // namespace velmor::e2e
