// The message dialogs, built from an in-memory template. A message box cannot be used: its button
// texts follow the system's UI language, and a Yes/No box ignores Esc, which must answer No here.
#include "platform/win32/MessageDialog.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "peers/AgentTexts.h"
#include "platform/win32/LibraryFunction.h"
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
  std::wstring_view text;
  DialogResult answer;
};

constexpr Button kOkButtons[] = {{IDOK, texts::kOkButton, DialogResult::Ok}};
constexpr Button kYesNoButtons[] = {{IDYES, texts::kYesButton, DialogResult::Yes},
                                    {IDNO, texts::kNoButton, DialogResult::No}};

// What a kind looks like. The first button is the default; Esc and the close box answer as the last.
struct Look {
  std::wstring_view caption;
  LPCSTR icon;
  std::span<const Button> buttons;
};

Look LookOf(DialogKind kind) {
  switch (kind) {
    case DialogKind::Error:
      return {texts::kErrorCaption, IDI_ERROR, kOkButtons};
    case DialogKind::Information:
      return {texts::kInformationCaption, IDI_INFORMATION, kOkButtons};
    case DialogKind::Confirmation:
      break;
  }
  return {texts::kConfirmationCaption, IDI_QUESTION, kYesNoButtons};
}

// The dialog's state, shared between the caller and the dialog procedure.
struct DialogState {
  Look look;
  std::wstring text;
  bool topmost = false;
  DialogResult answer = DialogResult::Cancelled;  // stays so unless a button, Esc or the close box answers
  // The message font and the icon at the dialog's DPI; they outlive the controls that show them.
  UniqueWin32Font font;
  UniqueWin32Icon icon;
  int iconSize = 0;
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

constexpr UINT kDefaultDpi = USER_DEFAULT_SCREEN_DPI;
constexpr int kIconSizeAtDefaultDpi = 32;  // the system's large icon

// A function of user32 that older Windows versions lack, or null there.
template <typename Function>
Function User32Function(const char* name) {
  return LibraryFunction<Function>(GetModuleHandleW(L"user32.dll"), name);
}

// The DPI of the dialog's window (Windows 10 1607 and later), else the system's: Windows 8.1 tells a
// window's own DPI only through a library that the agent does not load.
UINT DpiOf(HWND dialog) {
  if (const auto getDpiForWindow = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow")) {
    if (const UINT dpi = getDpiForWindow(dialog); dpi != 0) {
      return dpi;
    }
  }
  const UniqueWin32WindowDc dc = GetWindowDc(dialog);
  const int dpi = dc ? GetDeviceCaps(dc.get(), LOGPIXELSY) : 0;
  return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

// The user's message font, the one of message boxes, at `dpi`; null when the system does not say it.
UniqueWin32Font CreateMessageFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  using ForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  const auto forDpi = User32Function<ForDpi>("SystemParametersInfoForDpi");
  const bool got = forDpi != nullptr
                       ? forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi) != FALSE
                       : SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) != FALSE;
  return UniqueWin32Font(got ? CreateFontIndirectW(&metrics.lfMessageFont) : nullptr);
}

// Gives the dialog the message font and the icon at its window's DPI: at its creation, and again when
// it moves to a monitor of another DPI. The old ones go once the controls hold the new ones.
void ApplyDpi(HWND dialog, DialogState& state) {
  const UINT dpi = DpiOf(dialog);
  if (UniqueWin32Font font = CreateMessageFont(dpi)) {
    const auto fontParam = reinterpret_cast<WPARAM>(font.get());
    SendDlgItemMessageW(dialog, kTextId, WM_SETFONT, fontParam, FALSE);
    for (const Button& button : state.look.buttons) {
      SendDlgItemMessageW(dialog, button.id, WM_SETFONT, fontParam, FALSE);
    }
    state.font = std::move(font);
  }
  const int iconSize = MulDiv(kIconSizeAtDefaultDpi, static_cast<int>(dpi), kDefaultDpi);
  UniqueWin32Icon icon(static_cast<HICON>(LoadImageA(nullptr, state.look.icon, IMAGE_ICON, iconSize, iconSize, 0)));
  // The shared icon at the system's size when no other size is to be had; it is never destroyed.
  const HICON shown = icon ? icon.get() : LoadIconA(nullptr, state.look.icon);
  SendDlgItemMessageW(dialog, kIconId, STM_SETICON, reinterpret_cast<WPARAM>(shown), 0);
  state.iconSize = icon ? iconSize : GetSystemMetrics(SM_CXICON);
  state.icon = std::move(icon);
}

// A font's dialog units in pixels, as the dialog manager reckons them: a horizontal unit is a quarter
// of the average width of the Latin letters, a vertical one an eighth of the character height.
class DialogUnits {
 public:
  explicit DialogUnits(HDC dc) {
    TEXTMETRICW metrics{};
    SIZE letters{};
    constexpr std::wstring_view kLetters = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    if (dc != nullptr && GetTextMetricsW(dc, &metrics) != FALSE &&
        GetTextExtentPoint32W(dc, kLetters.data(), static_cast<int>(kLetters.size()), &letters) != FALSE) {
      baseX_ = (letters.cx / 26 + 1) / 2;
      baseY_ = metrics.tmHeight;
    }
  }
  [[nodiscard]] int X(int units) const { return MulDiv(units, baseX_, 4); }
  [[nodiscard]] int Y(int units) const { return MulDiv(units, baseY_, 8); }

 private:
  int baseX_ = 6;  // those of an 8-point font at 96 DPI, should the font say nothing
  int baseY_ = 13;
};

// Puts the controls in place around the measured text, all from the dialog's font and its icon's
// size, and sizes the dialog to them: centred on the work area at its creation, else (on a change of
// DPI) where it is.
void LayOut(HWND dialog, const DialogState& state, bool centre) {
  const UniqueWin32WindowDc dc = GetWindowDc(dialog);
  const SelectedFont font(dc.get(), reinterpret_cast<HFONT>(SendDlgItemMessageW(dialog, kTextId, WM_GETFONT, 0, 0)));
  const DialogUnits units(dc.get());
  const int margin = units.X(kMarginDlu);
  const int marginY = units.Y(kMarginDlu);
  const int iconGap = units.X(kIconGapDlu);
  const int buttonWidth = units.X(kButtonWidthDlu);
  const int buttonHeight = units.Y(kButtonHeightDlu);
  const int buttonGap = units.X(kButtonGapDlu);
  const int iconSize = state.iconSize;

  RECT workArea{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  const int workWidth = workArea.right - workArea.left;
  const int workHeight = workArea.bottom - workArea.top;

  const int maxTextWidth = std::max(1, std::min(units.X(kMaxTextWidthDlu), workWidth * 3 / 4 - iconSize));
  RECT measured{0, 0, maxTextWidth, 0};
  if (dc) {
    DrawTextW(dc.get(), state.text.c_str(), static_cast<int>(state.text.size()), &measured,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  }
  const int textWidth = measured.right - measured.left;
  const int textHeight = measured.bottom - measured.top;

  const int contentHeight = std::max(iconSize, textHeight);
  const int buttonCount = static_cast<int>(state.look.buttons.size());
  const int buttonsWidth = buttonCount * buttonWidth + (buttonCount - 1) * buttonGap;
  const int clientWidth = std::max(margin + iconSize + iconGap + textWidth + margin, buttonsWidth + 2 * margin);
  const int clientHeight = marginY + contentHeight + marginY + buttonHeight + marginY;

  const int textLeft = margin + iconSize + iconGap;
  const int textTop = marginY + (contentHeight - textHeight) / 2;
  MoveWindow(GetDlgItem(dialog, kIconId), margin, marginY, iconSize, iconSize, FALSE);
  MoveWindow(GetDlgItem(dialog, kTextId), textLeft, textTop, clientWidth - textLeft - margin, textHeight, FALSE);
  const int buttonsLeft = (clientWidth - buttonsWidth) / 2;
  const int buttonsTop = marginY + contentHeight + marginY;
  for (int i = 0; i < buttonCount; ++i) {
    MoveWindow(GetDlgItem(dialog, state.look.buttons[static_cast<std::size_t>(i)].id),
               buttonsLeft + i * (buttonWidth + buttonGap), buttonsTop, buttonWidth, buttonHeight, FALSE);
  }

  // The frame around that client area, at the dialog's DPI where Windows can say it.
  RECT frame{0, 0, clientWidth, clientHeight};
  const auto style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE));
  using AdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  if (const auto adjustForDpi = User32Function<AdjustForDpi>("AdjustWindowRectExForDpi")) {
    adjustForDpi(&frame, style, FALSE, exStyle, DpiOf(dialog));
  } else {
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  }
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT now{};
  GetWindowRect(dialog, &now);
  const int left = centre ? workArea.left + std::max(0, (workWidth - width) / 2) : now.left;
  const int top = centre ? workArea.top + std::max(0, (workHeight - height) / 2) : now.top;
  // Topmost: above every window that is not topmost itself, the owner's z-order notwithstanding.
  SetWindowPos(dialog, state.topmost ? HWND_TOPMOST : nullptr, left, top, width, height,
               SWP_NOACTIVATE | (state.topmost ? 0U : static_cast<UINT>(SWP_NOZORDER)));
  if (!centre) {
    InvalidateRect(dialog, nullptr, TRUE);
  }
}

// The agent's open dialogs and their states, innermost first (a dialog's loop can run a handler that
// shows another), kept in this process's own memory: any program of the desktop can write a dialog's
// DWLP_USER, or send it WM_INITDIALOG with an lParam of its choosing. Used on the agent's one thread.
struct OpenDialog {
  HWND window = nullptr;  // null until the dialog's own WM_INITDIALOG
  DialogState* state = nullptr;
  OpenDialog* outer = nullptr;
};
OpenDialog* innermostDialog = nullptr;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

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
      ApplyDpi(dialog, *state);
      LayOut(dialog, *state, true);
      return TRUE;  // the focus goes to the first tab stop, the default button
    case WM_DPICHANGED:
      // Moved to a monitor of another DPI. The DPI is asked of the window, and the suggested place
      // is not read: any program can send this message, with any numbers.
      if (state != nullptr) {
        ApplyDpi(dialog, *state);
        LayOut(dialog, *state, false);
      }
      return TRUE;  // laid out here: the dialog manager's own scaling would not know the message font
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
  DialogState state{LookOf(kind), std::wstring(text), topmost, DialogResult::Cancelled, {}, {}, 0};

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
  const INT_PTR shown =
      DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialogTemplate.Get(), owner, MessageDialogProc, 0);
  innermostDialog = open.outer;
  return shown == -1 ? DialogResult::NotShown : state.answer;  // -1: not made; GetLastError says why
}

bool IsOpenMessageDialog(HWND window) {
  return window != nullptr && StateOf(window) != nullptr;
}

}  // namespace velmor::win32impl
