// Stands in for the desktop shell where rights are to be staged under Wine, whose every process is
// elevated and where no shell window exists. Each mode runs a program on this program's standard
// handles and exits with its exit code (255 when it cannot be started):
//
//   desktop_shell.exe --unelevated EXE [ARGUMENTS...]  runs EXE as from a prompt that is not
//       elevated: with the linked token, as the shell starts programs
//   desktop_shell.exe --elevated EXE [ARGUMENTS...]  runs EXE with this program's rights while it
//       holds the desktop's shell window: a shell that runs elevated, whose token gives nobody the
//       user's own rights
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

struct Program {
  std::wstring exe;
  std::wstring commandLine;
};

// The program to run: its path (unquoted, without spaces) and the rest of the command line.
Program ProgramOf(std::wstring_view text) {
  const std::size_t end = text.find(L' ');
  Program program{std::wstring(text.substr(0, end)), {}};
  program.commandLine =
      L"\"" + program.exe + L"\"" + std::wstring(end == std::wstring_view::npos ? L"" : text.substr(end));
  return program;
}

int ExitCodeOf(const PROCESS_INFORMATION& info) {
  ::CloseHandle(info.hThread);
  ::WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = kCannotStart;
  ::GetExitCodeProcess(info.hProcess, &code);
  ::CloseHandle(info.hProcess);
  return static_cast<int>(code);
}

int RunUnelevated(Program program) {
  PROCESS_INFORMATION info{};
  if (!velmor::e2e::CreateProcessWithUserRightsW(program.exe, program.commandLine, info, true)) {
    return kCannotStart;
  }
  return ExitCodeOf(info);
}

int RunUnderElevatedShell(Program program) {
  HWND window = ::CreateWindowExW(0, L"STATIC", L"desktop shell stand-in", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
  if (window == nullptr || !::SetShellWindow(window)) {
    return kCannotStart;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(program.exe.c_str(), program.commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return kCannotStart;
  }
  return ExitCodeOf(info);
}

}  // namespace

int main() {
  const std::wstring_view arguments = ArgumentsOf(::GetCommandLineW());
  constexpr std::wstring_view kUnelevated = L"--unelevated ";
  constexpr std::wstring_view kElevated = L"--elevated ";
  if (arguments.starts_with(kUnelevated)) {
    return RunUnelevated(ProgramOf(arguments.substr(kUnelevated.size())));
  }
  if (arguments.starts_with(kElevated)) {
    return RunUnderElevatedShell(ProgramOf(arguments.substr(kElevated.size())));
  }
  return kCannotStart;
}
