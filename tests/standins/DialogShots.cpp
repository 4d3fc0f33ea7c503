// Puts the agent into each situation that shows a dialog, with the stand-ins for the product, and
// captures each dialog from the screen as a BMP file into the given folder (scripts/screenshots runs
// it under Wine with a real X display and turns the files into the pictures of docs/dialogs).
//
//   velmor_dialog_shots <output-folder>
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "peers/ProductPeers.h"
#include "tests/e2e/Poll.h"
#include "tests/e2e/Processes.h"
#include "tests/e2e/Registry.h"
#include "tests/e2e/ServiceStandin.h"
#include "tests/e2e/WinHandles.h"
#include "tests/e2e/Windows.h"

namespace {

using namespace velmor::e2e;

// The agent gives up on a service that never starts after about 20 seconds.
constexpr auto kDialogBound = 60s;

// Writes the screen's pixels under `window` as a 24-bit BMP file.
bool CaptureWindow(HWND window, const std::string& path) {
  RECT rect{};
  if (!::GetWindowRect(window, &rect)) {
    return false;
  }
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool saved = false;
  if (bitmap != nullptr && bits != nullptr) {
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ::GdiFlush();
    const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3U;
    const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + imageBytes;
    HANDLE opened =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened != INVALID_HANDLE_VALUE) {
      const UniqueHandle file(opened);
      DWORD written = 0;
      saved = ::WriteFile(file.get(), &header, sizeof header, &written, nullptr) &&
              ::WriteFile(file.get(), &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
              ::WriteFile(file.get(), bits, imageBytes, &written, nullptr);
    }
    ::SelectObject(memory, previous);
  }
  if (bitmap != nullptr) {
    ::DeleteObject(bitmap);
  }
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return saved;
}

// Starts the agent, waits for its dialog, captures it as <folder><name>.bmp, answers it with
// `answer` and waits for the agent to end.
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
  const bool captured = CaptureWindow(dialog->window, folder + name + ".bmp");
  std::printf("%s: \"%ls\" %s\n", name.c_str(), dialog->caption.c_str(), captured ? "captured" : "NOT captured");
  AnswerDialog(dialog->window, answer);
  if (!agent.WaitForExit(20s)) {
    agent.Terminate();
  }
  return captured;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: velmor_dialog_shots <output-folder>\n", stderr);
    return 2;
  }
  std::string folder = argv[1];
  if (folder.back() != '\\') {
    folder += '\\';
  }
  const std::string serviceLog = folder + "service.log";
  bool all = true;

  // The version gate: Windows 8 is below the minimum.
  SetWineVersionForAgent("win8");
  all &= Shoot(folder, "version-gate", "", IDOK);
  SetWineVersionForAgent("win10");

  // The service request: not installed, installed but never started, and a control call that fails
  // because the service ends itself inside its handler.
  RemoveServiceStandin();
  all &= Shoot(folder, "service-not-installed", "", IDOK);
  all &= InstallServiceStandin("--log " + Quote(serviceLog)) == 0;
  all &= Shoot(folder, "service-not-started", "1", IDOK);
  RemoveServiceStandin();
  all &= InstallServiceStandin("--log " + Quote(serviceLog) + " --on-control die") == 0;
  all &= StartServiceStandin() == 0;
  all &= Shoot(folder, "control-failure", "1", IDOK);
  RemoveServiceStandin();

  // The restart prompt at install time, while another product version runs. Answered No: under Wine
  // a reboot request would end the whole session.
  {
    const std::string marker(velmor::peers::kOtherVersionMarkers[0]);
    const UniqueHandle otherVersion(
        ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1, marker.c_str()));
    all &= Shoot(folder, "restart-prompt", "firstnotstartbutrestart", IDNO);
  }
  return all ? 0 : 1;
}
