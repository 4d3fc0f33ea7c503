// Finding top-level windows of other processes, and reading and answering their dialogs.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "peers/AgentContract.h"

namespace velmor::e2e {

// The command message, as another program posts or sends it (peers::QuitCommand(),
// peers::OpenPageCommand(i)).
inline bool PostCommand(HWND window, const peers::AgentCommandMessage& command) {
  return ::PostMessageA(window, command.message, command.wParam, command.lParam) != FALSE;
}
inline LRESULT SendCommand(HWND window, const peers::AgentCommandMessage& command) {
  return ::SendMessageA(window, command.message, command.wParam, command.lParam);
}

// MessageBox-style dialogs keep their text in the static control with this id.
inline constexpr int kDialogTextId = 0xFFFF;

HWND FindWindowByClassAndCaption(const std::string& className, const std::string& caption);
// The running agent that named its window: class "TMainForm", caption "velmor8476035".
HWND FindNamedAgentWindow();
// The product's main window (the stand-in under test): class "TMainForm", caption "Tessaly 2024".
HWND FindProductWindow();
DWORD WindowProcessId(HWND window);
// Waits until the process `processId` owns the window "velmor8476035"; returns it, or null.
HWND WaitForNamedAgent(DWORD processId, std::chrono::milliseconds bound);
std::string WindowClass(HWND window);
std::string WindowCaption(HWND window);
// Every top-level window of `processId` (hidden ones included) whose class is `className`.
std::vector<HWND> TopLevelWindowsOf(DWORD processId, const std::string& className);

struct DialogButton {
  int id;
  std::wstring text;
};

struct DialogContent {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;  // the text at kDialogTextId
  std::vector<DialogButton> buttons;
};

// A dialog's text comes back with line feeds or with CR LF pairs: this gives it with line feeds.
std::wstring WithLineFeeds(std::wstring text);
// Reads a #32770 dialog's caption, text and buttons.
DialogContent ReadDialog(HWND dialog);
// The first dialog (class #32770) of `processId` that appears within `bound`.
std::optional<DialogContent> WaitForDialog(DWORD processId, std::chrono::milliseconds bound);
// Answers a dialog as a click on the button with this id would (IDCANCEL: as Esc does).
void AnswerDialog(HWND dialog, int buttonId);
// Presses and releases Esc on the dialog's control `controlId`, for the dialog's own keyboard
// handling to interpret.
void PressEscape(HWND dialog, int controlId);
// The id of the dialog's default button, 0 when it has none.
int DefaultButtonId(HWND dialog);

// Watches, from its own thread, whether any "TMainForm" window of the watched processes is ever
// visible, for as long as it lives.
class VisibilityWatch {
 public:
  VisibilityWatch();
  VisibilityWatch(const VisibilityWatch&) = delete;
  VisibilityWatch& operator=(const VisibilityWatch&) = delete;
  ~VisibilityWatch();

  void Watch(DWORD processId);
  // A description of every visible agent window seen, empty when none was.
  std::vector<std::string> Sightings();
  // The same, forgotten from now on.
  std::vector<std::string> TakeSightings();

 private:
  void Run();

  std::mutex mutex_;
  std::set<DWORD> processes_;
  std::vector<std::string> sightings_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace velmor::e2e
