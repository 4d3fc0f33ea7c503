#include "tests/e2e/Windows.h"

#include <utility>

#include "peers/AgentContract.h"
#include "peers/ProductPeers.h"
#include "tests/e2e/Poll.h"

namespace velmor::e2e {

HWND FindWindowByClassAndCaption(const std::string& className, const std::string& caption) {
  return ::FindWindowA(className.c_str(), caption.c_str());
}

HWND FindNamedAgentWindow() {
  return FindWindowByClassAndCaption(std::string(peers::kAgentWindowClass), std::string(peers::kAgentWindowCaption));
}

HWND FindProductWindow() {
  return FindWindowByClassAndCaption(std::string(peers::kProductWindowClass),
                                     std::string(peers::kProductWindowCaption));
}

DWORD WindowProcessId(HWND window) {
  DWORD processId = 0;
  if (window != nullptr) {
    ::GetWindowThreadProcessId(window, &processId);
  }
  return processId;
}

HWND WaitForNamedAgent(DWORD processId, std::chrono::milliseconds bound) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        HWND window = FindNamedAgentWindow();
        if (window != nullptr && WindowProcessId(window) == processId) {
          found = window;
        }
        return found != nullptr;
      },
      bound);
  return found;
}

std::string WindowClass(HWND window) {
  char buffer[256] = {};
  const int length = ::GetClassNameA(window, buffer, sizeof buffer);
  return std::string(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
}

std::string WindowCaption(HWND window) {
  char buffer[512] = {};
  const int length = ::GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
}

namespace {

struct Search {
  DWORD processId;
  std::string className;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  if (WindowProcessId(window) == search->processId && WindowClass(window) == search->className) {
    search->found.push_back(window);
  }
  return TRUE;
}

std::wstring ControlText(HWND control) {
  wchar_t buffer[2048] = {};
  const int length = ::GetWindowTextW(control, buffer, static_cast<int>(std::size(buffer)));
  return std::wstring(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
}

BOOL CALLBACK CollectButton(HWND control, LPARAM context) {
  auto* buttons = reinterpret_cast<std::vector<DialogButton>*>(context);
  if (WindowClass(control) == "Button" && ::IsWindowVisible(control)) {
    buttons->push_back({::GetDlgCtrlID(control), ControlText(control)});
  }
  return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindowsOf(DWORD processId, const std::string& className) {
  Search search{processId, className, {}};
  ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring WithLineFeeds(std::wstring text) {
  for (auto at = text.find(L"\r\n"); at != std::wstring::npos; at = text.find(L"\r\n", at)) {
    text.erase(at, 1);
  }
  return text;
}

DialogContent ReadDialog(HWND dialog) {
  DialogContent content;
  content.window = dialog;
  content.caption = ControlText(dialog);
  wchar_t buffer[2048] = {};
  const UINT length = ::GetDlgItemTextW(dialog, kDialogTextId, buffer, static_cast<int>(std::size(buffer)));
  content.text.assign(buffer, length);
  ::EnumChildWindows(dialog, CollectButton, reinterpret_cast<LPARAM>(&content.buttons));
  return content;
}

std::optional<DialogContent> WaitForDialog(DWORD processId, std::chrono::milliseconds bound) {
  HWND dialog = nullptr;
  const bool appeared = WaitUntil(
      [&] {
        const auto dialogs = TopLevelWindowsOf(processId, "#32770");
        if (dialogs.empty()) {
          return false;
        }
        dialog = dialogs.front();
        // The dialog is ready to be read once its text control exists.
        return ::GetDlgItem(dialog, kDialogTextId) != nullptr;
      },
      bound);
  if (!appeared) {
    return std::nullopt;
  }
  return ReadDialog(dialog);
}

void AnswerDialog(HWND dialog, int buttonId) {
  ::PostMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(buttonId), 0);
}

void PressEscape(HWND dialog, int controlId) {
  HWND control = ::GetDlgItem(dialog, controlId);
  HWND target = control != nullptr ? control : dialog;
  const UINT scanCode = ::MapVirtualKeyA(VK_ESCAPE, MAPVK_VK_TO_VSC);
  ::PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, static_cast<LPARAM>(1U | (scanCode << 16U)));
  ::PostMessageA(target, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(1U | (scanCode << 16U) | (3U << 30U)));
}

int DefaultButtonId(HWND dialog) {
  const LRESULT answer = ::SendMessageA(dialog, DM_GETDEFID, 0, 0);
  return HIWORD(answer) == DC_HASDEFID ? LOWORD(answer) : 0;
}

VisibilityWatch::VisibilityWatch() : thread_([this] { Run(); }) {}

VisibilityWatch::~VisibilityWatch() {
  stop_ = true;
  thread_.join();
}

void VisibilityWatch::Watch(DWORD processId) {
  std::lock_guard lock(mutex_);
  processes_.insert(processId);
}

std::vector<std::string> VisibilityWatch::Sightings() {
  std::lock_guard lock(mutex_);
  return sightings_;
}

std::vector<std::string> VisibilityWatch::TakeSightings() {
  std::lock_guard lock(mutex_);
  return std::exchange(sightings_, {});
}

void VisibilityWatch::Run() {
  const std::string agentClass(peers::kAgentWindowClass);
  while (!stop_) {
    std::set<DWORD> processes;
    {
      std::lock_guard lock(mutex_);
      processes = processes_;
    }
    for (DWORD processId : processes) {
      for (HWND window : TopLevelWindowsOf(processId, agentClass)) {
        if (::IsWindowVisible(window)) {
          std::lock_guard lock(mutex_);
          sightings_.push_back("process " + std::to_string(processId) + " showed its window \"" +
                               WindowCaption(window) + "\"");
        }
      }
    }
    ::Sleep(10);
  }
}

}  // namespace velmor::e2e
