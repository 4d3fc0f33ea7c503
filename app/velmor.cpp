// The process entry: the Windows platform, the hidden agent window, the message loop.
#include "app/velmor.h"

#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "app/Unit4.h"
#include "platform/Win32Platform.h"

namespace velmor {

int RunAgent(AgentPlatform& os) {
  AgentState state;
  TMainForm MainForm(os, state);  // hidden from creation on; the start timer counts from here
  os.RunMessageLoop();
  return 0;
}

namespace {

// Exception texts are plain ASCII; each byte becomes one wide character.
std::wstring Widen(std::string_view text) {
  std::wstring wide;
  for (const char c : text) {
    wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  }
  return wide;
}

}  // namespace
}  // namespace velmor

// A GUI-subsystem program: mingw's start-up code calls main. With MSVC, link with
// /SUBSYSTEM:WINDOWS /ENTRY:mainCRTStartup.
int main() {
  std::unique_ptr<velmor::AgentPlatform> os = velmor::CreateWin32Platform();
  try {
    return velmor::RunAgent(*os);
  } catch (const std::exception& error) {
    os->ShowMessageDialog(velmor::DialogKind::Error, velmor::Widen(error.what()), false);
  } catch (...) {
    os->ShowMessageDialog(velmor::DialogKind::Error, L"", false);
  }
  return 0;
}
