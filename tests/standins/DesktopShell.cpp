// Stands in for the desktop shell where rights are to be staged under Wine, whose every process is
// elevated and where no shell window exists:
//
//   desktop_shell.exe --unelevated EXE [ARGUMENTS...]  runs EXE as from a prompt that is not
//       elevated (with the linked token, as the shell starts programs), on this program's standard
//       handles, and exits with its exit code (255 when it cannot be started)
//   desktop_shell.exe --elevated  takes the desktop's shell window and holds it until ended: a shell
//       that runs elevated, whose token gives nobody the user's own rights
#include <windows.h>

#include <string>
#include <string_view>

#include "tests/e2e/Processes.h"

// Exported by user32, declared by no header of mingw-w64.
extern "C" __declspec(dllimport) BOOL WINAPI SetShellWindow(HWND window);

namespace {

constexpr int kCannotStart = 255;

// The command line after this program's own name (which may be quoted).
std::wstring_view ArgumentsOf(std::wstring_view commandLine) {
  const bool quoted = commandLine.starts_with(L'"');
  std::size_t end = quoted ? commandLine.find(L'"', 1) : commandLine.find(L' ');
  end = end == std::wstring_view::npos ? commandLine.size() : end + (quoted ? 1 : 0);
  commandLine.remove_prefix(end);
  while (commandLine.starts_with(L' ')) {
    commandLine.remove_prefix(1);
  }
  return commandLine;
}

int RunUnelevated(std::wstring_view program) {
  const std::size_t end = program.find(L' ');
  const std::wstring exe(program.substr(0, end));
  std::wstring commandLine =
      L"\"" + exe + L"\"" + std::wstring(end == std::wstring_view::npos ? L"" : program.substr(end));
  PROCESS_INFORMATION info{};
  if (!velmor::e2e::CreateProcessWithUserRightsW(exe, commandLine, info, true)) {
    return kCannotStart;
  }
  ::CloseHandle(info.hThread);
  ::WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = kCannotStart;
  ::GetExitCodeProcess(info.hProcess, &code);
  ::CloseHandle(info.hProcess);
  return static_cast<int>(code);
}

int HoldShellWindow() {
  HWND window = ::CreateWindowExW(0, L"STATIC", L"desktop shell stand-in", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
  if (window == nullptr || !::SetShellWindow(window)) {
    return 1;
  }
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace

int main() {
  const std::wstring_view arguments = ArgumentsOf(::GetCommandLineW());
  constexpr std::wstring_view kUnelevated = L"--unelevated ";
  if (arguments.starts_with(kUnelevated)) {
    return RunUnelevated(arguments.substr(kUnelevated.size()));
  }
  if (arguments == L"--elevated") {
    return HoldShellWindow();
  }
  return 2;
}
