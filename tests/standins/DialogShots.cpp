// Puts the agent into each situation that shows a dialog, with the stand-ins for the product, and
// captures each dialog from the screen as a BMP file <situation><suffix>.bmp into the given folder
// (scripts/screenshots runs it under Wine with a real X display, once per screen DPI, and turns the
// files into the pictures of docs/dialogs). Each picture is checked: the controls lie inside the
// dialog's client area and the text is whole. The exit code is 1 when a dialog did not come, could
// not be captured or failed the check.
//
//   velmor_dialog_shots <output-folder> [<suffix>]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "peers/ProductPeers.h"
#include "platform/win32/Win32Handles.h"
#include "tests/e2e/Poll.h"
#include "tests/e2e/Processes.h"
#include "tests/e2e/Registry.h"
#include "tests/e2e/ServiceStandin.h"
#include "tests/e2e/Windows.h"

namespace {

using namespace velmor::e2e;
using velmor::UniqueWin32Handle;

// The agent gives up on a service that never starts after about 20 seconds.
constexpr auto kDialogBound = 60s;

// The screen's pixels in a rectangle, 24 bits each, rows bottom-up and DWORD-aligned, as BMP files
// store them.
struct ScreenPixels {
  RECT rect{};
  std::vector<unsigned char> bits;
  [[nodiscard]] int Width() const { return rect.right - rect.left; }
  [[nodiscard]] int Height() const { return rect.bottom - rect.top; }
  [[nodiscard]] DWORD RowBytes() const { return (static_cast<DWORD>(Width()) * 3 + 3) & ~3U; }
  // The colour at a point of the screen, which must lie in the rectangle.
  [[nodiscard]] COLORREF At(int x, int y) const {
    const std::size_t offset = static_cast<std::size_t>(Height() - 1 - (y - rect.top)) * RowBytes() +
                               static_cast<std::size_t>(x - rect.left) * 3;
    return RGB(bits[offset + 2], bits[offset + 1], bits[offset]);
  }
};

std::optional<ScreenPixels> Grab(const RECT& rect) {
  ScreenPixels pixels{rect, {}};
  if (pixels.Width() <= 0 || pixels.Height() <= 0) {
    return std::nullopt;
  }
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = pixels.Width();
  info.bmiHeader.biHeight = pixels.Height();  // bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr && bits != nullptr) {
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, pixels.Width(), pixels.Height(), screen, rect.left, rect.top, SRCCOPY);
    ::GdiFlush();
    const auto* first = static_cast<const unsigned char*>(bits);
    pixels.bits.assign(first, first + pixels.RowBytes() * static_cast<DWORD>(pixels.Height()));
    ::SelectObject(memory, previous);
  }
  if (bitmap != nullptr) {
    ::DeleteObject(bitmap);
  }
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  if (pixels.bits.empty()) {
    return std::nullopt;
  }
  return pixels;
}

bool WriteBmp(const ScreenPixels& pixels, const std::string& path) {
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = pixels.Width();
  info.biHeight = pixels.Height();
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.bits.size());
  HANDLE opened = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    return false;
  }
  const UniqueWin32Handle file(opened);
  DWORD written = 0;
  return ::WriteFile(file.get(), &header, sizeof header, &written, nullptr) &&
         ::WriteFile(file.get(), &info, sizeof info, &written, nullptr) &&
         ::WriteFile(file.get(), pixels.bits.data(), static_cast<DWORD>(pixels.bits.size()), &written, nullptr);
}

RECT ScreenRectOf(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return rect;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

// Whether any pixel of `area` (within the grabbed rectangle) differs from `background`.
bool HasInk(const ScreenPixels& pixels, const RECT& area, COLORREF background) {
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      if (pixels.At(x, y) != background) {
        return true;
      }
    }
  }
  return false;
}

// Checks what the picture shows: the text and the buttons inside the client area, and the text
// whole. The text control is made taller and drawn again: ink below its old bottom means that lines
// were cut off. (Its width needs no such look: the text is measured wrapped at a width, and a word
// longer than that widens the measure.) Prints each fault; true when there is none.
bool CheckLayout(HWND dialog, const ScreenPixels& picture) {
  RECT client{};
  ::GetClientRect(dialog, &client);
  ::MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
  bool whole = true;
  const HWND text = ::GetDlgItem(dialog, kDialogTextId);
  for (const int id : {IDOK, IDYES, IDNO, kDialogTextId}) {
    const HWND control = ::GetDlgItem(dialog, id);
    if (control != nullptr && !Inside(ScreenRectOf(control), client)) {
      std::printf("  control %d lies outside the client area\n", id);
      whole = false;
    }
  }
  if (text == nullptr) {
    std::printf("  no text control\n");
    return false;
  }
  const RECT shown = ScreenRectOf(text);
  if (!Inside(shown, client)) {
    return false;
  }
  // The dialog's face: the pixel just left of the text, in the gap after the icon.
  const COLORREF face = picture.At(shown.left - 1, shown.top);
  // Below the text, down to the first control under it or the client area's bottom.
  LONG below = client.bottom;
  for (const int id : {IDOK, IDYES, IDNO}) {
    if (const HWND button = ::GetDlgItem(dialog, id); button != nullptr) {
      below = std::min(below, ScreenRectOf(button).top);
    }
  }
  const int height = shown.bottom - shown.top;
  ::SetWindowPos(text, nullptr, 0, 0, shown.right - shown.left, height * 2, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::RedrawWindow(text, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  ::Sleep(500);
  const RECT underneath{shown.left, shown.bottom, shown.right, std::min<LONG>(below, shown.bottom + height)};
  if (underneath.bottom > underneath.top) {
    const std::optional<ScreenPixels> again = Grab(underneath);
    if (!again || HasInk(*again, underneath, face)) {
      std::printf("  the text goes on below its control: lines are cut off\n");
      whole = false;
    }
  }
  ::SetWindowPos(text, nullptr, 0, 0, shown.right - shown.left, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return whole;
}

// Starts the agent, waits for its dialog, captures it as <folder><name>.bmp, checks it, answers it
// with `answer` and waits for the agent to end.
bool Shoot(const std::string& folder, const std::string& name, const std::string& arguments, int answer) {
  const ChildProcess agent = ChildProcess::Launch(ExecutableFolder() + "velmor.exe", arguments);
  const std::optional<DialogContent> dialog = WaitForDialog(agent.Id(), kDialogBound);
  if (!dialog) {
    std::printf("%s: no dialog\n", name.c_str());
    agent.Terminate();
    return false;
  }
  // Active, as the user sees it when it comes up; then painted, the default button's focus drawn.
  ::SwitchToThisWindow(dialog->window, TRUE);
  ::SetForegroundWindow(dialog->window);
  ::Sleep(1000);
  const std::optional<ScreenPixels> picture = Grab(ScreenRectOf(dialog->window));
  const bool captured = picture && WriteBmp(*picture, folder + name + ".bmp");
  std::printf("%s: \"%ls\" %s\n", name.c_str(), dialog->caption.c_str(), captured ? "captured" : "NOT captured");
  const bool whole = captured && CheckLayout(dialog->window, *picture);
  std::printf("%s: %s\n", name.c_str(), whole ? "laid out whole" : "LAID OUT WRONG");
  AnswerDialog(dialog->window, answer);
  if (!agent.WaitForExit(20s)) {
    agent.Terminate();
  }
  return captured && whole;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fputs("usage: velmor_dialog_shots <output-folder> [<suffix>]\n", stderr);
    return 2;
  }
  std::string folder = argv[1];
  if (folder.back() != '\\') {
    folder += '\\';
  }
  const std::string suffix = argc == 3 ? argv[2] : "";
  const std::string serviceLog = folder + "service.log";
  bool all = true;

  // The version gate: Windows 8 is below the minimum.
  SetWineVersionForAgent("win8");
  all &= Shoot(folder, "version-gate" + suffix, "", IDOK);
  SetWineVersionForAgent("win10");

  // The service request: not installed, installed but never started, and a control call that fails
  // because the service ends itself inside its handler.
  RemoveServiceStandin();
  all &= Shoot(folder, "service-not-installed" + suffix, "", IDOK);
  all &= InstallServiceStandin("--log " + Quote(serviceLog)) == 0;
  all &= Shoot(folder, "service-not-started" + suffix, "1", IDOK);
  RemoveServiceStandin();
  all &= InstallServiceStandin("--log " + Quote(serviceLog) + " --on-control die") == 0;
  all &= StartServiceStandin() == 0;
  all &= Shoot(folder, "control-failure" + suffix, "1", IDOK);
  RemoveServiceStandin();

  // The restart prompt at install time, while another product version runs. Answered No: under Wine
  // a reboot request would end the whole session.
  {
    const std::string marker(velmor::peers::kOtherVersionMarkers[0]);
    const UniqueWin32Handle otherVersion(
        ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1, marker.c_str()));
    all &= Shoot(folder, "restart-prompt" + suffix, "firstnotstartbutrestart", IDNO);
  }
  return all ? 0 : 1;
}
