// The confirmation dialog, built from an in-memory template. A Yes/No message box cannot be used:
// it ignores Esc, and Esc must answer No here.
#include "platform/ConfirmationDialog.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

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

// The dialog's state, shared between the caller and the dialog procedure.
struct ConfirmationState {
  std::wstring text;
  bool topmost = false;
  DialogResult answer = DialogResult::Cancelled;  // stays so unless a button or Esc answers
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

// A window's device context, released when it goes out of scope.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_ != nullptr) {
      ReleaseDC(window_, dc_);
    }
  }
  [[nodiscard]] HDC Get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
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
  const WindowDc dc(dialog);
  if (dc.Get() == nullptr) {
    return SIZE{maxWidth, 0};
  }
  const SelectedFont font(dc.Get(), reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
  RECT rect{0, 0, maxWidth, 0};
  DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &rect,
            DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

// Puts the controls in place around the measured text and centres the dialog on the work area.
void LayOut(HWND dialog, const ConfirmationState& state) {
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
  const int buttonsWidth = 2 * button.x + buttonGap.x;
  const int clientWidth = std::max(margin.x + iconWidth + iconGap.x + text.cx + margin.x, buttonsWidth + 2 * margin.x);
  const int clientHeight = margin.y + contentHeight + margin.y + button.y + margin.y;

  const int textLeft = margin.x + iconWidth + iconGap.x;
  const int textTop = margin.y + (contentHeight - text.cy) / 2;
  MoveWindow(GetDlgItem(dialog, kIconId), margin.x, margin.y, iconWidth, iconHeight, FALSE);
  MoveWindow(GetDlgItem(dialog, kTextId), textLeft, textTop, clientWidth - textLeft - margin.x, text.cy, FALSE);
  const int buttonsLeft = (clientWidth - buttonsWidth) / 2;
  const int buttonsTop = margin.y + contentHeight + margin.y;
  MoveWindow(GetDlgItem(dialog, IDYES), buttonsLeft, buttonsTop, button.x, button.y, FALSE);
  MoveWindow(GetDlgItem(dialog, IDNO), buttonsLeft + button.x + buttonGap.x, buttonsTop, button.x, button.y, FALSE);

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

void Answer(HWND dialog, DialogResult answer, int button) {
  auto* state = reinterpret_cast<ConfirmationState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (state != nullptr) {
    state->answer = answer;
  }
  EndDialog(dialog, button);
}

INT_PTR CALLBACK ConfirmationProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* state = reinterpret_cast<ConfirmationState*>(lParam);
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      SetDlgItemTextW(dialog, kTextId, state->text.c_str());
      SendDlgItemMessageW(dialog, kIconId, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_QUESTION)), 0);
      LayOut(dialog, *state);
      return TRUE;  // the focus goes to the first tab stop, the default button "&Yes"
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDYES:
          Answer(dialog, DialogResult::Yes, IDYES);
          return TRUE;
        case IDNO:
        case IDCANCEL:  // Esc
          Answer(dialog, DialogResult::No, IDNO);
          return TRUE;
        default:
          return FALSE;
      }
    case WM_CLOSE:  // the close box, Alt+F4
      Answer(dialog, DialogResult::No, IDNO);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

DialogResult ShowConfirmationDialog(HWND owner, std::wstring_view text, bool topmost) {
  ConfirmationState state{std::wstring(text), topmost};

  DialogTemplate dialogTemplate(DS_MODALFRAME | DS_SHELLFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU, 4, L"Confirm", 8,
                                L"MS Shell Dlg");
  dialogTemplate.Item(SS_LEFT | SS_NOPREFIX, kTextId, kStaticClass, L"");
  dialogTemplate.Item(SS_ICON, kIconId, kStaticClass, L"");
  dialogTemplate.Item(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDYES, kButtonClass, L"&Yes");
  dialogTemplate.Item(BS_PUSHBUTTON | WS_TABSTOP, IDNO, kButtonClass, L"&No");

  // The return value is not needed: the state says whether a button answered. When the dialog is
  // torn down (its owner destroyed, WM_QUIT) the call returns without one, and that is Cancelled.
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialogTemplate.Get(), owner, ConfirmationProc,
                          reinterpret_cast<LPARAM>(&state));
  return state.answer;
}

}  // namespace velmor::win32impl
