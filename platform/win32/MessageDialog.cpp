// The message dialogs, built from an in-memory template. A message box cannot be used: its button
// texts follow the system's UI language, and a Yes/No box ignores Esc, which must answer No here.
#include "platform/win32/MessageDialog.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/win32/Win32Handles.h"

namespace velmor::win32impl {

namespace {

// The text control has the id of a message box's text, so that the same tools read both.
constexpr int kTextId = 0xFFFF;
constexpr int kIconId = 20;

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;

// Layout, in dialog units.
constexpr int kMarginDlu = 7;
constexpr int kIconGapDlu = 7;
constexpr int kButtonWidthDlu = 50;
constexpr int kButtonHeightDlu = 14;
constexpr int kButtonGapDlu = 4;
constexpr int kMaxTextWidthDlu = 280;

struct Button {
  int id;
  const wchar_t* text;
  DialogResult answer;
};

constexpr Button kOkButtons[] = {{IDOK, L"OK", DialogResult::Ok}};
constexpr Button kYesNoButtons[] = {{IDYES, L"&Yes", DialogResult::Yes}, {IDNO, L"&No", DialogResult::No}};

// What a kind looks like. The first button is the default; Esc and the close box answer as the last.
struct Look {
  const wchar_t* caption;
  LPCSTR icon;
  std::span<const Button> buttons;
};

Look LookOf(DialogKind kind) {
  switch (kind) {
    case DialogKind::Error:
      return {L"Error", IDI_ERROR, kOkButtons};
    case DialogKind::Information:
      return {L"Information", IDI_INFORMATION, kOkButtons};
    case DialogKind::Confirmation:
      break;
  }
  return {L"Confirm", IDI_QUESTION, kYesNoButtons};
}

// The dialog's state, shared between the caller and the dialog procedure.
struct DialogState {
  Look look;
  std::wstring text;
  bool topmost = false;
  DialogResult answer = DialogResult::Cancelled;  // stays so unless a button, Esc or the close box answers
};

// Writes a DLGTEMPLATE and its DLGITEMTEMPLATEs, word by word, DWORD-aligned where required.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, WORD itemCount, std::wstring_view caption, WORD pointSize, std::wstring_view font) {
    DWord(style);
    DWord(0);  // extended style
    Word(itemCount);
    Rect(0, 0, 200, 60);  // placeholder: the dialog sizes itself to its text
    Word(0);              // no menu
    Word(0);              // the standard dialog class
    String(caption);
    Word(pointSize);
    String(font);
  }

  void Item(DWORD style, int id, WORD classAtom, std::wstring_view title) {
    if (words_.size() % 2 != 0) {
      Word(0);
    }
    DWord(style | WS_CHILD | WS_VISIBLE);
    DWord(0);            // extended style
    Rect(0, 0, 10, 10);  // placed by the dialog procedure
    Word(static_cast<WORD>(id));
    Word(0xFFFF);
    Word(classAtom);
    String(title);
    Word(0);  // no creation data
  }

  [[nodiscard]] const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Word(WORD value) { words_.push_back(value); }
  void DWord(DWORD value) {
    Word(static_cast<WORD>(value & 0xFFFFU));
    Word(static_cast<WORD>(value >> 16));
  }
  void Rect(short x, short y, short cx, short cy) {
    for (const short value : {x, y, cx, cy}) {
      Word(static_cast<WORD>(value));
    }
  }
  void String(std::wstring_view text) {
    for (const wchar_t c : text) {
      Word(static_cast<WORD>(c));
    }
    Word(0);
  }

  std::vector<WORD> words_;  // operator new aligns the start for any DWORD
};

// Selects a font into a device context for the scope's duration.
class SelectedFont {
 public:
  SelectedFont(HDC dc, HFONT font) : dc_(dc), previous_(font != nullptr ? SelectObject(dc, font) : nullptr) {}
  SelectedFont(const SelectedFont&) = delete;
  SelectedFont& operator=(const SelectedFont&) = delete;
  ~SelectedFont() {
    if (previous_ != nullptr) {
      SelectObject(dc_, previous_);
    }
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// Converts dialog units into this dialog's pixels.
POINT DluToPixels(HWND dialog, int x, int y) {
  RECT rect{0, 0, x, y};
  MapDialogRect(dialog, &rect);
  return POINT{rect.right, rect.bottom};
}

// The pixel size that the text needs, line feeds as line breaks, wrapped at `maxWidth`.
SIZE MeasureText(HWND dialog, const std::wstring& text, int maxWidth) {
  const UniqueWin32WindowDc dc = GetWindowDc(dialog);
  if (!dc) {
    return SIZE{maxWidth, 0};
  }
  const SelectedFont font(dc.get(), reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
  RECT rect{0, 0, maxWidth, 0};
  DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &rect,
            DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

// Puts the controls in place around the measured text and centres the dialog on the work area.
void LayOut(HWND dialog, const DialogState& state) {
  const POINT margin = DluToPixels(dialog, kMarginDlu, kMarginDlu);
  const POINT iconGap = DluToPixels(dialog, kIconGapDlu, 0);
  const POINT button = DluToPixels(dialog, kButtonWidthDlu, kButtonHeightDlu);
  const POINT buttonGap = DluToPixels(dialog, kButtonGapDlu, 0);
  const int iconWidth = GetSystemMetrics(SM_CXICON);
  const int iconHeight = GetSystemMetrics(SM_CYICON);

  RECT workArea{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  const int workWidth = workArea.right - workArea.left;
  const int workHeight = workArea.bottom - workArea.top;

  const int maxTextWidth = std::max(
      1, std::min(static_cast<int>(DluToPixels(dialog, kMaxTextWidthDlu, 0).x), workWidth * 3 / 4 - iconWidth));
  const SIZE text = MeasureText(dialog, state.text, maxTextWidth);

  const int contentHeight = std::max(iconHeight, static_cast<int>(text.cy));
  const int buttonCount = static_cast<int>(state.look.buttons.size());
  const int buttonsWidth = buttonCount * button.x + (buttonCount - 1) * buttonGap.x;
  const int clientWidth = std::max(margin.x + iconWidth + iconGap.x + text.cx + margin.x, buttonsWidth + 2 * margin.x);
  const int clientHeight = margin.y + contentHeight + margin.y + button.y + margin.y;

  const int textLeft = margin.x + iconWidth + iconGap.x;
  const int textTop = margin.y + (contentHeight - text.cy) / 2;
  MoveWindow(GetDlgItem(dialog, kIconId), margin.x, margin.y, iconWidth, iconHeight, FALSE);
  MoveWindow(GetDlgItem(dialog, kTextId), textLeft, textTop, clientWidth - textLeft - margin.x, text.cy, FALSE);
  const int buttonsLeft = (clientWidth - buttonsWidth) / 2;
  const int buttonsTop = margin.y + contentHeight + margin.y;
  for (int i = 0; i < buttonCount; ++i) {
    MoveWindow(GetDlgItem(dialog, state.look.buttons[static_cast<std::size_t>(i)].id),
               buttonsLeft + i * (button.x + buttonGap.x), buttonsTop, button.x, button.y, FALSE);
  }

  RECT frame{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)));
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = workArea.left + std::max(0, (workWidth - width) / 2);
  const int top = workArea.top + std::max(0, (workHeight - height) / 2);
  // Topmost: above every window that is not topmost itself, the owner's z-order notwithstanding.
  SetWindowPos(dialog, state.topmost ? HWND_TOPMOST : nullptr, left, top, width, height,
               SWP_NOACTIVATE | (state.topmost ? 0U : static_cast<UINT>(SWP_NOZORDER)));
}

// The agent's open dialogs and their states, innermost first (a dialog's loop can run a handler that
// shows another), kept in this process's own memory: any program of the desktop can write a dialog's
// DWLP_USER, or send it WM_INITDIALOG with an lParam of its choosing. Used on the agent's one thread.
struct OpenDialog {
  HWND window = nullptr;  // null until the dialog's own WM_INITDIALOG
  DialogState* state = nullptr;
  OpenDialog* outer = nullptr;
};
OpenDialog* innermostDialog = nullptr;

DialogState* StateOf(HWND dialog) {
  for (const OpenDialog* open = innermostDialog; open != nullptr; open = open->outer) {
    if (open->window == dialog) {
      return open->state;
    }
  }
  return nullptr;
}

void Answer(HWND dialog, DialogState& state, const Button& button) {
  state.answer = button.answer;
  EndDialog(dialog, button.id);
}

INT_PTR CALLBACK MessageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  DialogState* state = StateOf(dialog);
  switch (message) {
    case WM_INITDIALOG:
      if (innermostDialog == nullptr || innermostDialog->window != nullptr || ::InSendMessage() != FALSE) {
        return FALSE;  // not the creation of the dialog being shown
      }
      innermostDialog->window = dialog;
      state = innermostDialog->state;
      SendDlgItemMessageW(dialog, kIconId, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, state->look.icon)),
                          0);
      LayOut(dialog, *state);
      return TRUE;  // the focus goes to the first tab stop, the default button
    case WM_COMMAND:
      if (state == nullptr) {
        return FALSE;
      }
      if (LOWORD(wParam) == IDCANCEL) {  // Esc
        Answer(dialog, *state, state->look.buttons.back());
        return TRUE;
      }
      if (const auto button = std::find_if(state->look.buttons.begin(), state->look.buttons.end(),
                                           [&](const Button& b) { return b.id == LOWORD(wParam); });
          button != state->look.buttons.end()) {
        Answer(dialog, *state, *button);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:  // the close box, Alt+F4
      if (state != nullptr) {
        Answer(dialog, *state, state->look.buttons.back());
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

DialogResult ShowMessageDialog(HWND owner, DialogKind kind, std::wstring_view text, bool topmost) {
  DialogState state{LookOf(kind), std::wstring(text), topmost};

  // Visible from the template: shown as soon as it is laid out, not when its loop first idles.
  // The buttons come first and the text, complete, last, so that once the text control exists
  // everything a reader looks for does.
  DialogTemplate dialogTemplate(DS_MODALFRAME | DS_SHELLFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE,
                                static_cast<WORD>(state.look.buttons.size() + 2), state.look.caption, 8,
                                L"MS Shell Dlg");
  DWORD buttonStyle = BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP;
  for (const Button& button : state.look.buttons) {
    dialogTemplate.Item(buttonStyle, button.id, kButtonClass, button.text);
    buttonStyle = BS_PUSHBUTTON | WS_TABSTOP;
  }
  dialogTemplate.Item(SS_ICON, kIconId, kStaticClass, L"");
  dialogTemplate.Item(SS_LEFT | SS_NOPREFIX, kTextId, kStaticClass, state.text);

  // The return value is not used: under Wine it is the default button's id when WM_QUIT ends the
  // dialog. The state says whether an answer was given; a dialog torn down without one (its owner
  // destroyed, WM_QUIT) leaves it Cancelled.
  OpenDialog open{nullptr, &state, innermostDialog};
  innermostDialog = &open;
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialogTemplate.Get(), owner, MessageDialogProc, 0);
  innermostDialog = open.outer;
  return state.answer;
}

bool IsOpenMessageDialog(HWND window) {
  return window != nullptr && StateOf(window) != nullptr;
}

}  // namespace velmor::win32impl
