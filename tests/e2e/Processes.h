// Starting the agent and the stand-ins, and waiting for them to end.
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

#include "platform/win32/Win32Handles.h"

namespace velmor::e2e {

// The folder that holds this executable, velmor.exe and the stand-ins, with its trailing backslash.
std::string ExecutableFolder();
// The Windows system folder (msiexec.exe, wineboot.exe under Wine), with its trailing backslash.
std::string SystemFolder();
// Text in the ANSI code page, in UTF-16, and back (a character outside the code page becomes '?').
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
// The folder of the shipped programs that the cases start (velmor.exe, velmorctl.exe, the test
// packages in installers\): VELMOR_E2E_SHIPPED_FOLDER when set (the shipped-binary tier points the
// 64-bit suite at the 32-bit build's), else ExecutableFolder(). With its trailing backslash.
std::string ShippedFolder();

// Whether this process runs elevated under UAC, the full half of a split token (Wine runs every process
// so): its children then run elevated unless started with the user's rights.
bool RunsElevated();
// Whether this process has administrative rights: elevated under UAC, or an administrator without a
// split token (User Account Control off, the built-in Administrator).
bool HasAdministrativeRights();
// Why this process cannot start a program with the user's own rights; empty when it can (its own
// rights are the user's, or it is elevated and the desktop shell's or the linked token serves).
std::string WhyUserRightsAreOutOfReach();
// Starts `exe` with `commandLine` with the user's rights, from an elevated process (Wine runs every
// process elevated); fails with ERROR_PRIVILEGE_NOT_HELD when no token without full rights can be
// had. With `passStandardHandles`, the child writes to this process's standard handles. The caller
// closes both handles of `info`.
bool CreateProcessWithUserRights(const std::string& exe, std::string& commandLine, PROCESS_INFORMATION& info);
bool CreateProcessWithUserRightsW(const std::wstring& exe, std::wstring& commandLine, PROCESS_INFORMATION& info,
                                  bool passStandardHandles = false);

// Makes the folder `name` in the temporary folder; returns its path with the trailing backslash.
std::string MakeTempFolder(const std::string& name);
// Deletes the files in the folder, then the folder.
void RemoveTempFolder(const std::string& folder);

// Quotes one argument for a command line (the stand-ins and the agent split at spaces).
std::string Quote(const std::string& text);

// The rights a child runs with: this process's own (an installer's, when the suite runs elevated),
// or the user's, as when the user starts a program from the desktop.
enum class Rights { Inherited, User };

class ChildProcess {
 public:
  // Starts `exe` (a full path) with `arguments` appended to its quoted path. An empty process when
  // the start failed.
  static ChildProcess Launch(const std::string& exe, const std::string& arguments, Rights rights = Rights::Inherited);
  // The same for a path or command line with characters outside the code page.
  static ChildProcess LaunchWide(const std::wstring& exe, const std::wstring& arguments,
                                 Rights rights = Rights::Inherited);

  ChildProcess() = default;
  explicit operator bool() const { return static_cast<bool>(process_); }
  [[nodiscard]] DWORD Id() const { return id_; }
  [[nodiscard]] HANDLE Handle() const { return process_.get(); }
  [[nodiscard]] bool IsRunning() const;
  // The exit code once the process has ended within `bound`; nothing if it still runs.
  std::optional<DWORD> WaitForExit(std::chrono::milliseconds bound) const;
  // Ends the process if it still runs (test clean-up only).
  void Terminate() const;

 private:
  UniqueWin32Handle process_;
  DWORD id_ = 0;
};

// Ends the process with this id if it runs one of the programs in ExecutableFolder() or ShippedFolder(): clean-up of
// agents and stand-ins that a case did not start itself. Any other program is left alone.
void TerminateOurProgram(DWORD processId);

// The FileVersion text of an executable's version resource; empty when it has none or is missing.
std::string FileVersionOf(const std::string& path);
// The four numbers of its fixed version information, "a.b.c.d"; empty when it has none.
std::string FixedFileVersionOf(const std::string& path);

// Whether the process has loaded the DLL of this file name (for example "shell32.dll").
bool ProcessHasModule(DWORD processId, const std::string& dllName);

// What a console program printed and how it ended.
struct ConsoleRun {
  std::optional<DWORD> exitCode;  // nothing when it did not end within the bound (it is ended then)
  std::string output;             // standard output and standard error, as written
};

// Runs `exe` with `arguments` to its end, reading what it prints. With `closeOutputAfter`, the reading
// end of its output is closed once that many bytes were read, as `| head -c N` does.
ConsoleRun RunConsoleProgram(const std::string& exe, const std::string& arguments, std::chrono::milliseconds bound,
                             std::optional<std::size_t> closeOutputAfter = std::nullopt);

}  // namespace velmor::e2e
