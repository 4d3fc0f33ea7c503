// The agent window as other processes see it: found by class and caption while hidden, never
// shown, not even by another program, closed by WM_CLOSE but not by its system menu, deaf to forged
// creation and timer messages, to its user data and to a rename from outside, and gone with the agent
// when another program destroys it; ended by the end of the session and by the Restart Manager's
// request; a second agent keeps its first caption.
#include <cstddef>
#include <utility>

#include "app/AgentWindow.h"
#include "peers/AgentContract.h"
#include "platform/AgentPlatform.h"
#include "tests/e2e/AgentTest.h"
#include "tests/e2e/ZOrder.h"

namespace velmor::e2e {
namespace {

using AgentWindowTest = AgentTest;

// A message sent as another program sends it, never waiting long on the agent.
void SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &ignored);
}

// A logon start while the product runs: the agent stays resident and does nothing else.
TEST_F(AgentWindowTest, ResidentAgentIsFoundByClassAndCaptionWhileHidden) {
  StartProductWindow("--visible");
  ChildProcess& agent = StartAgent("1");

  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr) << "no window of class TMainForm captioned velmor8476035";
  EXPECT_EQ(WindowClass(window), "TMainForm");
  EXPECT_FALSE(::IsWindowVisible(window));
  EXPECT_TRUE(agent.IsRunning());
  EXPECT_TRUE(AgentMarkerExists());

  ::PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U);
  EXPECT_TRUE(WaitUntil([] { return !AgentMarkerExists(); }, 10s)) << "the marker outlived the agent";
  EXPECT_EQ(CountLines(ProductLog(), "tray"), 0U) << "a logon start must not click the product forward";
}

// A second agent while the first is resident and the product window stays hidden whatever it is
// sent: the second keeps trying, keeps the caption "Shell", and the first keeps its name.
TEST_F(AgentWindowTest, SecondAgentKeepsShellCaptionWhileItRuns) {
  StartProductWindow("--show-after never");
  ChildProcess& first = StartAgent("1");
  ASSERT_NE(WaitForNamedAgent(first), nullptr);

  ChildProcess& second = StartAgent("");
  HWND secondWindow = WaitForAgentWindow(second);
  ASSERT_NE(secondWindow, nullptr);
  // Its attempts to bring the product forward are running once the tray clicks arrive.
  ASSERT_TRUE(WaitUntil([&] { return CountLines(ProductLog(), "tray 0 514") >= 2; }, kStartBound));
  EXPECT_EQ(WindowCaption(secondWindow), "Shell");
  EXPECT_FALSE(::IsWindowVisible(secondWindow));
  EXPECT_TRUE(second.IsRunning());
  EXPECT_EQ(WindowProcessId(FindNamedAgentWindow()), first.Id());

  ::PostMessageA(secondWindow, WM_CLOSE, 0, 0);
  EXPECT_EQ(second.WaitForExit(kExitBound), 0U);
  EXPECT_TRUE(first.IsRunning());
  EXPECT_EQ(WindowProcessId(FindNamedAgentWindow()), first.Id());

  EXPECT_EQ(QuitByCommand(FindNamedAgentWindow(), first), 0U);
}

// A second agent while the first runs and the product window is visible: it switches to the
// product window and ends; the first stays.
TEST_F(AgentWindowTest, SecondAgentActivatesVisibleProductAndEnds) {
  StartProductWindow("--visible");
  ChildProcess& first = StartAgent("1");
  ASSERT_NE(WaitForNamedAgent(first), nullptr);
  HWND product = FindWindowByClassAndCaption("TMainForm", "Tessaly 2024");
  ASSERT_NE(product, nullptr);
  // Another program's window over the product's: the switch must bring the product back on top.
  CoverWindow cover;
  ASSERT_NE(cover.Handle(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return IsAbove(cover.Handle(), product); }, kStartBound));

  ChildProcess& second = StartAgent("");
  bool secondNamedItself = false;
  WaitUntil(
      [&] {
        // A window still being made reads as untitled for a moment: only the agent's name counts.
        for (HWND window : TopLevelWindowsOf(second.Id(), "TMainForm")) {
          secondNamedItself = secondNamedItself || WindowCaption(window) == peers::kAgentWindowCaption;
        }
        return !second.IsRunning();
      },
      kExitBound, 5ms);
  EXPECT_EQ(second.WaitForExit(kExitBound), 0U);
  EXPECT_FALSE(secondNamedItself) << "the second agent must keep the caption Shell";
  EXPECT_EQ(CountLines(ProductLog(), "tray"), 0U) << "a visible product window needs no tray click";
  EXPECT_TRUE(IsAbove(product, cover.Handle())) << "the second agent did not switch to the product window";
  EXPECT_TRUE(first.IsRunning());
  EXPECT_EQ(WindowProcessId(FindNamedAgentWindow()), first.Id());

  EXPECT_EQ(QuitByCommand(FindNamedAgentWindow(), first), 0U);
}

// Any program on the desktop can send the agent window the messages that Windows sends at its
// creation and destruction, and post it timer ticks. None of them changes the agent: it keeps its
// name, serves its commands, waits out its own watchdog and quits cleanly.
TEST_F(AgentWindowTest, ForgedCreationDestructionAndTimerMessagesChangeNothing) {
  InstallService();
  ASSERT_EQ(StartServiceStandin(), 0U);
  ChildProcess& first = StartAgent("1");
  HWND window = WaitForNamedAgent(first);
  ASSERT_NE(window, nullptr);

  // A second agent waits, its watchdog running, for a product window that is not there.
  ChildProcess& second = StartAgent("");
  HWND secondWindow = WaitForAgentWindow(second);
  ASSERT_NE(secondWindow, nullptr);

  for (HWND target : {window, secondWindow}) {
    for (const TimerId timer : {AgentTimer::Activation, AgentTimer::Start, AgentTimer::Watchdog}) {
      ::PostMessageA(target, WM_TIMER, static_cast<WPARAM>(timer), 0);
    }
    ::PostMessageA(target, WM_TIMER, static_cast<WPARAM>(AgentTimer::Start), 0x12345678);  // a callback of nowhere
  }
  EXPECT_FALSE(WaitUntil([&] { return !first.IsRunning(); }, 3s)) << "a posted tick fired the takeover";

  // The system copies a sent CREATESTRUCT into the receiver, lpCreateParams and all.
  CREATESTRUCTA create{};
  create.lpCreateParams = reinterpret_cast<LPVOID>(0x12345678);
  create.lpszName = "forged";
  create.lpszClass = "TMainForm";
  for (HWND target : {window, secondWindow}) {
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(target, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create), SMTO_NORMAL, 5000, &ignored);
    ::SendMessageTimeoutA(target, WM_NCDESTROY, 0, 0, SMTO_NORMAL, 5000, &ignored);
  }
  EXPECT_EQ(FindNamedAgentWindow(), window);
  EXPECT_EQ(WindowCaption(window), "velmor8476035");

  SendCommand(window, peers::OpenPageCommand(1));
  EXPECT_TRUE(WaitUntil([&] { return LogLines(UrlLog()).size() == 1; }, kStartBound)) << "the command went unserved";
  ::PostMessageA(secondWindow, WM_CLOSE, 0, 0);
  EXPECT_EQ(second.WaitForExit(kExitBound), 0U);
  EXPECT_EQ(QuitByCommand(window, first), 0U) << "deaf to the quit command, or crashed";
}

// Any program on the desktop can write the user data of the agent window and of its dialogs, and send
// a dialog WM_INITDIALOG. The agent keeps where their messages go in its own memory: cleared or set to
// garbage, the user data changes nothing.
TEST_F(AgentWindowTest, UserDataWrittenByAnotherProgramChangesNothing) {
  ChildProcess& product = StartProductWindow("--visible");
  ChildProcess& agent = StartAgent("1");
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr);

  ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutA(window, peers::kAgentCommandMessage, 1, 1, SMTO_NORMAL, 5000, &ignored);
  EXPECT_TRUE(WaitUntil([&] { return LogLines(UrlLog()).size() == 1; }, 5s)) << "the command went unserved";

  ::SetWindowLongPtrA(window, GWLP_USERDATA, 0x12345678);
  EXPECT_EQ(QuitByCommand(window, agent), 0U) << "deaf to the quit command, or crashed";
  EXPECT_TRUE(WaitUntil([] { return !AgentMarkerExists(); }, 10s));
  product.Terminate();

  // A dialog: the service is not installed, and the agent says so until answered.
  ChildProcess& told = StartAgent("");
  const std::optional<DialogContent> dialog = WaitForDialog(told.Id(), kStartBound);
  ASSERT_TRUE(dialog.has_value()) << "no error dialog";
  ::SetWindowLongPtrA(dialog->window, DWLP_USER, 0x12345678);
  ::SendMessageTimeoutA(dialog->window, WM_INITDIALOG, 0, 0x12345678, SMTO_NORMAL, 5000, &ignored);
  AnswerDialog(dialog->window, IDOK);
  EXPECT_EQ(told.WaitForExit(kExitBound), 0U) << "the answer went unheard, or the agent crashed";
}

// A posted timer message whose lParam holds a function's address would have that function called by
// the message dispatch (Windows refuses a callback it did not register; Wine calls it). The agent's
// windows have no timer callbacks: such a message to one of them is never dispatched, neither by the
// agent's own loop nor by the loop of one of its dialogs. Messages to the thread are left to the system.
TEST_F(AgentWindowTest, TimerMessageCarryingACallbackToTheAgentsWindowsIsNeverDispatched) {
  const auto exitProcess =
      reinterpret_cast<LPARAM>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "ExitProcess"));
  ASSERT_NE(exitProcess, 0);
  const auto postTicks = [&](HWND window) {
    for (const UINT message : {static_cast<UINT>(WM_TIMER), 0x0118U /* WM_SYSTIMER */}) {
      ::PostMessageA(window, message, static_cast<WPARAM>(AgentTimer::Activation), exitProcess);
    }
  };

  // The agent's own loop: a resident agent.
  ChildProcess& product = StartProductWindow("--visible");
  ChildProcess& resident = StartAgent("1");
  HWND window = WaitForNamedAgent(resident);
  ASSERT_NE(window, nullptr);
  postTicks(window);
  EXPECT_FALSE(WaitUntil([&] { return !resident.IsRunning(); }, 2s)) << "a callback in a timer message ran";
  EXPECT_EQ(QuitByCommand(window, resident), 0U);
  product.Terminate();

  // A dialog's loop: the service is not installed, and the agent says so until answered.
  ChildProcess& agent = StartAgent("");
  const std::optional<DialogContent> dialog = WaitForDialog(agent.Id(), kStartBound);
  ASSERT_TRUE(dialog.has_value()) << "no error dialog";
  HWND agentWindow = WaitForAgentWindow(agent);
  ASSERT_NE(agentWindow, nullptr);
  postTicks(agentWindow);
  postTicks(dialog->window);
  EXPECT_FALSE(WaitUntil([&] { return !agent.IsRunning(); }, 2s)) << "a callback in a timer message ran";
  EXPECT_TRUE(::IsWindow(dialog->window));
  AnswerDialog(dialog->window, IDOK);
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U);
}

// Another program shows the agent window in each way the system offers: it stays hidden (the watch of
// every case would also see it shown for a moment) and serves its commands. A close from the window's
// own system menu leaves the agent resident; the command message still makes it quit.
TEST_F(AgentWindowTest, WindowShownOrClosedFromItsSystemMenuByAnotherProgramStaysHiddenAndResident) {
  StartProductWindow("--visible");
  ChildProcess& agent = StartAgent("1");
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr);
  std::size_t pagesOpened = 0;
  const auto servesACommand = [&] {
    PostCommand(window, peers::OpenPageCommand(1));
    ++pagesOpened;
    return WaitUntil([&] { return LogLines(UrlLog()).size() == pagesOpened; }, kStartBound);
  };

  const std::pair<const char*, void (*)(HWND)> shows[] = {
      {"ShowWindow", [](HWND w) { ::ShowWindow(w, SW_SHOW); }},
      {"SetWindowPos",
       [](HWND w) { ::SetWindowPos(w, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW); }},
      {"ShowWindowAsync", [](HWND w) { ::ShowWindowAsync(w, SW_SHOW); }},
      {"SetWindowLongPtr",
       [](HWND w) { ::SetWindowLongPtrA(w, GWL_STYLE, ::GetWindowLongPtrA(w, GWL_STYLE) | WS_VISIBLE); }},
      // The default handling of these sets WS_VISIBLE, or restores the window, without asking it first.
      {"sent WM_SETREDRAW", [](HWND w) { SendBounded(w, WM_SETREDRAW, TRUE, 0); }},
      {"posted WM_SETREDRAW", [](HWND w) { ::PostMessageA(w, WM_SETREDRAW, TRUE, 0); }},
      {"WM_SYSCOMMAND SC_RESTORE", [](HWND w) { ::PostMessageA(w, WM_SYSCOMMAND, SC_RESTORE, 0); }},
      {"WM_SYSCOMMAND SC_MAXIMIZE", [](HWND w) { ::PostMessageA(w, WM_SYSCOMMAND, SC_MAXIMIZE, 0); }},
      {"WM_SYSCOMMAND SC_MINIMIZE", [](HWND w) { ::PostMessageA(w, WM_SYSCOMMAND, SC_MINIMIZE, 0); }},
      {"WM_SHOWWINDOW", [](HWND w) { SendBounded(w, WM_SHOWWINDOW, TRUE, SW_PARENTOPENING); }},
  };
  for (const auto& [how, show] : shows) {
    show(window);
    EXPECT_FALSE(WaitUntil([&] { return ::IsWindowVisible(window) != FALSE; }, 1s)) << how << " showed it";
    EXPECT_TRUE(servesACommand()) << "the command after " << how << " went unserved";
    ::ShowWindow(window, SW_HIDE);  // each way is tried on a hidden window
  }

  // SWP_NOSENDCHANGING skips the message in which a show is refused: the window is shown, and hidden
  // again before SetWindowPos returns. The watch may see that moment; it is not counted.
  EXPECT_TRUE(Watch().TakeSightings().empty());
  ::SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW | SWP_NOSENDCHANGING);
  EXPECT_FALSE(::IsWindowVisible(window)) << "shown without being asked first, and left so";
  EXPECT_TRUE(servesACommand()) << "the command after a show without asking went unserved";
  Watch().TakeSightings();

  ::PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_FALSE(WaitUntil([&] { return !agent.IsRunning(); }, 2s)) << "the system menu's close ended the agent";
  EXPECT_TRUE(servesACommand()) << "the command after the system menu's close went unserved";
  EXPECT_EQ(QuitByCommand(window, agent), 0U);
}

// Another program renames the agent window, by SetWindowText or by sending WM_SETTEXT: the agent keeps
// the caption it set, so that others still find it.
TEST_F(AgentWindowTest, CaptionIsKeptWhenAnotherProgramRenamesTheWindow) {
  StartProductWindow("--visible");
  ChildProcess& agent = StartAgent("1");
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr);

  ::SetWindowTextA(window, "renamed");
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("renamed too"), SMTO_NORMAL, 5000, &ignored);
  EXPECT_EQ(WindowCaption(window), "velmor8476035");
  EXPECT_EQ(FindNamedAgentWindow(), window);

  EXPECT_EQ(QuitByCommand(window, agent), 0U);
}

// Another program makes the agent window a child of its own window and destroys that: the agent
// window goes with it. The agent, no longer findable, ends and releases the marker, so that the
// next start is a first agent again.
TEST_F(AgentWindowTest, WindowDestroyedFromOutsideEndsTheAgentAndReleasesTheMarker) {
  StartProductWindow("--visible");
  ChildProcess& agent = StartAgent("1");
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr);

  HWND parent = ::CreateWindowExA(0, "STATIC", "parent", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(parent, nullptr);
  ::SetParent(window, parent);
  ::DestroyWindow(parent);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(window); }, 5s))
      << "the agent window outlived the window it was made a child of";

  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U) << "the agent lives on without its window";
  EXPECT_TRUE(WaitUntil([] { return !AgentMarkerExists(); }, 10s)) << "the marker outlived the agent window";
}

// The end of the session. The Restart Manager closes a program that holds files an installer must
// replace with WM_QUERYENDSESSION and WM_ENDSESSION, both with ENDSESSION_CLOSEAPP, sent from any
// session; an end that is called off (WM_ENDSESSION with FALSE) leaves the agent resident; under
// Wine, the end of Wine's own session (wineboot --end-session) sends every window both messages and
// then ends each process that still runs, as Windows does at logoff. Each end leaves neither marker nor
// residence lock behind, and the lock was released by the agent: a process ended while it held the
// lock would have abandoned it (WAIT_ABANDONED to the test, which holds a handle to it meanwhile).
TEST_F(AgentWindowTest, EndOfTheSessionOrTheRestartManagerEndsTheAgentUnlessCalledOff) {
  StartProductWindow("--visible");
  const std::string lockName(peers::kResidenceLockName);
  const auto openLock = [&] { return UniqueWin32Handle(::OpenMutexA(SYNCHRONIZE, FALSE, lockName.c_str())); };
  // Takes the lock once its owner has ended: true when the owner released it, false when abandoned.
  const auto releasedByItsOwner = [](const UniqueWin32Handle& lock) {
    const DWORD wait = ::WaitForSingleObject(lock.get(), 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
      ::ReleaseMutex(lock.get());
    }
    return wait == WAIT_OBJECT_0;
  };
  const auto send = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR answer = 0;
    const LRESULT sent = ::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &answer);
    return sent != 0 ? std::optional<DWORD_PTR>(answer) : std::nullopt;
  };

  ChildProcess& agent = StartAgent("1");
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr);
  UniqueWin32Handle lock = openLock();
  ASSERT_TRUE(lock) << "no residence lock while the agent is resident";
  EXPECT_EQ(send(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP), std::optional<DWORD_PTR>(TRUE))
      << "the agent lets the session end";
  EXPECT_TRUE(send(window, WM_ENDSESSION, FALSE, ENDSESSION_CLOSEAPP).has_value());
  EXPECT_FALSE(agent.WaitForExit(1s).has_value()) << "the end was called off, yet the agent ended";
  EXPECT_EQ(::FindWindowA("TMainForm", "velmor8476035"), window);

  EXPECT_TRUE(send(window, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP).has_value());
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U) << "the Restart Manager's request did not end the agent";
  EXPECT_TRUE(releasedByItsOwner(lock)) << "the agent ended holding the residence lock";
  lock.reset();
  EXPECT_FALSE(openLock()) << "the residence lock outlived the agent";
  EXPECT_TRUE(WaitUntil([] { return !AgentMarkerExists(); }, 10s)) << "the marker outlived the agent";

  if (!RunningUnderWine()) {
    return;  // ending the session on Windows would log the test's own user off
  }
  ChildProcess& next = StartAgent("1");
  ASSERT_NE(WaitForNamedAgent(next), nullptr);
  lock = openLock();
  ASSERT_TRUE(lock);
  // wineboot itself may wait on another program of the prefix long after the agent has gone (seen
  // once in a whole run, late in a long-lived prefix): what counts here is the agent's end.
  RunConsoleProgram(SystemFolder() + "wineboot.exe", "--end-session", 60s);
  EXPECT_EQ(next.WaitForExit(kExitBound), 0U) << "the end of Wine's session did not end the agent";
  EXPECT_TRUE(releasedByItsOwner(lock)) << "the agent was ended holding the residence lock: it ignored the end";
  lock.reset();
  EXPECT_FALSE(openLock());
  EXPECT_TRUE(WaitUntil([] { return !AgentMarkerExists(); }, 10s));
}

// The watch behind "never visible" in every case: it does see a shown window of the agent's class.
TEST_F(AgentWindowTest, VisibilityWatchSeesAShownWindowOfTheAgentsClass) {
  ChildProcess& product = StartProductWindow("--visible");
  VisibilityWatch watch;
  watch.Watch(product.Id());
  EXPECT_TRUE(WaitUntil([&] { return !watch.Sightings().empty(); }, kStartBound));
}

// A DLL planted beside the agent under the name of a system DLL that user32 loads late (when the first
// window is made) is never loaded: the agent takes DLLs from the system folder only. The same DLL
// beside a program without that restriction (the product window stand-in) shows that it would be.
// Wine prefers its built-in uxtheme: for these two programs it is told to search as Windows does.
TEST_F(AgentWindowTest, DllPlantedInTheAgentsFolderIsNeverLoaded) {
  RequireUserRights();
  const std::string folder = CaseFolder();
  const std::string log = folder + "planted.log";
  ::SetEnvironmentVariableA("VELMOR_PLANTED_LOG", log.c_str());
  ASSERT_TRUE(::CopyFileA((ShippedFolder() + "planted.dll").c_str(), (folder + "uxtheme.dll").c_str(), FALSE));
  ASSERT_TRUE(::CopyFileA(AgentPath().c_str(), (folder + "velmor.exe").c_str(), FALSE));
  // The control must be of the agent's build, or it could not load the planted DLL either.
  ASSERT_TRUE(
      ::CopyFileA((ShippedFolder() + "tessaly_window.exe").c_str(), (folder + "tessaly_window.exe").c_str(), FALSE));
  const bool wine = RunningUnderWine();
  for (const char* exe : {"velmor.exe", "tessaly_window.exe"}) {
    ASSERT_TRUE(!wine || PreferDllFromSearchPath(exe, "uxtheme", true));
  }

  // Without the restriction: the stand-in, copied beside the planted DLLs, makes its window.
  ChildProcess control = ChildProcess::Launch(folder + "tessaly_window.exe", "--visible");
  ASSERT_TRUE(WaitUntil([] { return ProductWindow() != nullptr; }, kStartBound));
  const bool plantedDllLoadsBySearch = !LogLines(log).empty();

  // With it: a logon start while the product window is there stays resident, its window made.
  ChildProcess agent = ChildProcess::Launch(folder + "velmor.exe", "1", Rights::User);
  HWND window = WaitForNamedAgent(agent);
  ASSERT_NE(window, nullptr);
  ::PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitForExit(kExitBound), 0U);
  control.Terminate();
  for (const char* exe : {"velmor.exe", "tessaly_window.exe"}) {
    EXPECT_TRUE(!wine || PreferDllFromSearchPath(exe, "uxtheme", false));
  }

  for (const std::string& line : LogLines(log)) {
    EXPECT_EQ(line.find("velmor.exe"), std::string::npos) << "the agent loaded a planted DLL: " << line;
  }
  if (!plantedDllLoadsBySearch) {
    GTEST_SKIP() << "this system does not load uxtheme.dll from a program's folder";
  }
}

}  // namespace
}  // namespace velmor::e2e
