#include "tests/e2e/Processes.h"

#include <tlhelp32.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AsciiCase.h"

namespace velmor::e2e {

std::string ExecutableFolder() {
  char buffer[MAX_PATH * 4] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string path(buffer, length);
  const auto slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string SystemFolder() {
  std::string folder(MAX_PATH, '\0');
  folder.resize(::GetSystemDirectoryA(folder.data(), MAX_PATH));
  return folder + "\\";
}

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
  return wide;
}

std::string Narrow(const std::wstring& text) {
  std::string narrow(text.size() * 2, '\0');
  narrow.resize(static_cast<std::size_t>(::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                               narrow.data(), static_cast<int>(narrow.size()), nullptr,
                                                               nullptr)));
  return narrow;
}

std::string ShippedFolder() {
  char buffer[MAX_PATH * 4] = {};
  const DWORD length = ::GetEnvironmentVariableA("VELMOR_E2E_SHIPPED_FOLDER", buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) {
    return ExecutableFolder();
  }
  std::string folder(buffer, length);
  return folder.back() == '\\' ? folder : folder + '\\';
}

std::string MakeTempFolder(const std::string& name) {
  char temp[MAX_PATH] = {};
  ::GetTempPathA(sizeof temp, temp);
  const std::string folder = std::string(temp) + name + "\\";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

void RemoveTempFolder(const std::string& folder) {
  WIN32_FIND_DATAA entry{};
  HANDLE search = ::FindFirstFileA((folder + "*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::DeleteFileA((folder + entry.cFileName).c_str());
      }
    } while (::FindNextFileA(search, &entry));
    ::FindClose(search);
  }
  ::RemoveDirectoryA(folder.c_str());
}

std::string Quote(const std::string& text) {
  return "\"" + text + "\"";
}

namespace {

UniqueWin32Handle OwnToken() {
  HANDLE raw = nullptr;
  return UniqueWin32Handle(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw) ? raw : nullptr);
}

TOKEN_ELEVATION_TYPE ElevationTypeOf(HANDLE token) {
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  return ::GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) ? type : TokenElevationTypeDefault;
}

bool IsElevatedToken(HANDLE token) {
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

// A primary token made from `token`; null when that is not allowed.
UniqueWin32Handle PrimaryTokenFrom(HANDLE token) {
  HANDLE primary = nullptr;
  return UniqueWin32Handle(
      ::DuplicateTokenEx(token, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary) ? primary
                                                                                                         : nullptr);
}

// The token of a program started with the user's rights from an elevated one. The desktop shell
// runs with them: on Windows its token serves (the linked token of an elevated caller is for
// identification only). Without a shell window (Wine's null display driver), the linked unelevated
// token serves. Null when neither can be had.
struct UserRightsToken {
  UniqueWin32Handle primary;
  bool fromShell = false;
};

UserRightsToken TokenWithUserRights() {
  DWORD shellId = 0;
  ::GetWindowThreadProcessId(::GetShellWindow(), &shellId);
  const UniqueWin32Handle shell(shellId != 0 ? ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellId)
                                             : nullptr);
  HANDLE raw = nullptr;
  if (shell && ::OpenProcessToken(shell.get(), TOKEN_DUPLICATE, &raw)) {
    const UniqueWin32Handle shellToken(raw);
    return {PrimaryTokenFrom(shellToken.get()), true};
  }
  const UniqueWin32Handle own = OwnToken();
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (!own || !::GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
    return {};
  }
  const UniqueWin32Handle linkedToken(linked.LinkedToken);
  return {PrimaryTokenFrom(linkedToken.get()), false};
}

}  // namespace

bool RunsElevated() {
  const UniqueWin32Handle token = OwnToken();
  return token && ElevationTypeOf(token.get()) == TokenElevationTypeFull;
}

bool HasAdministrativeRights() {
  const UniqueWin32Handle token = OwnToken();
  return token && IsElevatedToken(token.get());
}

std::string WhyUserRightsAreOutOfReach() {
  const UniqueWin32Handle own = OwnToken();
  if (!own || !IsElevatedToken(own.get())) {
    return {};  // this process's own rights are the user's
  }
  if (ElevationTypeOf(own.get()) != TokenElevationTypeFull) {
    return "this account has no split UAC token (User Account Control is off, or it is the built-in "
           "Administrator)";
  }
  const UserRightsToken user = TokenWithUserRights();
  if (!user.primary) {
    return "no desktop shell runs in this session, and this process's linked token may not start a program (a "
           "remote or service session)";
  }
  if (IsElevatedToken(user.primary.get())) {
    return "the desktop shell of this session runs elevated";
  }
  return {};
}

bool CreateProcessWithUserRightsW(const std::wstring& exe, std::wstring& commandLine, PROCESS_INFORMATION& info,
                                  bool passStandardHandles) {
  const UserRightsToken user = TokenWithUserRights();
  if (!user.primary || IsElevatedToken(user.primary.get())) {
    ::SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return false;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (passStandardHandles) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
      ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
  }
  if (user.fromShell) {
    // Without an environment block of its own, the program would get one made from the user's
    // profile, without the variables that the cases hand on (the logs the stand-ins write to).
    const std::unique_ptr<wchar_t, decltype(&::FreeEnvironmentStringsW)> environment(::GetEnvironmentStringsW(),
                                                                                     &::FreeEnvironmentStringsW);
    return ::CreateProcessWithTokenW(user.primary.get(), 0, exe.c_str(), commandLine.data(), CREATE_UNICODE_ENVIRONMENT,
                                     environment.get(), nullptr, &startup, &info) != FALSE;
  }
  return ::CreateProcessAsUserW(user.primary.get(), exe.c_str(), commandLine.data(), nullptr, nullptr,
                                passStandardHandles ? TRUE : FALSE, 0, nullptr, nullptr, &startup, &info) != FALSE;
}

bool CreateProcessWithUserRights(const std::string& exe, std::string& commandLine, PROCESS_INFORMATION& info) {
  std::wstring wideCommandLine = Widen(commandLine);
  return CreateProcessWithUserRightsW(Widen(exe), wideCommandLine, info);
}

ChildProcess ChildProcess::Launch(const std::string& exe, const std::string& arguments, Rights rights) {
  return LaunchWide(Widen(exe), Widen(arguments), rights);
}

ChildProcess ChildProcess::LaunchWide(const std::wstring& exe, const std::wstring& arguments, Rights rights) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) {
    commandLine += L" " + arguments;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ChildProcess child;
  // An elevated process without a split token has no user's rights to give: such a start fails
  // rather than start the program with full rights.
  const bool started = rights == Rights::User && HasAdministrativeRights()
                           ? CreateProcessWithUserRightsW(exe, commandLine, info)
                           : ::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                              nullptr, &startup, &info) != FALSE;
  if (started) {
    ::CloseHandle(info.hThread);
    child.process_ = UniqueWin32Handle(info.hProcess);
    child.id_ = info.dwProcessId;
  }
  return child;
}

bool ChildProcess::IsRunning() const {
  return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> ChildProcess::WaitForExit(std::chrono::milliseconds bound) const {
  if (!process_) {
    return std::nullopt;
  }
  if (::WaitForSingleObject(process_.get(), static_cast<DWORD>(bound.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process_.get(), &code)) {
    return std::nullopt;
  }
  return code;
}

void ChildProcess::Terminate() const {
  if (IsRunning()) {
    ::TerminateProcess(process_.get(), 1);
    ::WaitForSingleObject(process_.get(), 10000);
  }
}

namespace {

bool LiesDirectlyIn(std::string_view path, const std::string& folder) {
  return path.size() > folder.size() &&
         ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.data(), static_cast<int>(folder.size()),
                          folder.c_str(), static_cast<int>(folder.size())) == CSTR_EQUAL &&
         path.find('\\', folder.size()) == std::string_view::npos;
}

// Whether the process runs a program that lies directly in ExecutableFolder() or ShippedFolder().
bool RunsOurProgram(HANDLE process) {
  char image[MAX_PATH * 4] = {};
  DWORD length = sizeof image;
  if (!::QueryFullProcessImageNameA(process, 0, image, &length)) {
    return false;
  }
  const std::string_view path(image, length);
  return LiesDirectlyIn(path, ExecutableFolder()) || LiesDirectlyIn(path, ShippedFolder());
}

}  // namespace

void TerminateOurProgram(DWORD processId) {
  if (processId == 0 || processId == ::GetCurrentProcessId()) {
    return;
  }
  UniqueWin32Handle process(
      ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (process && RunsOurProgram(process.get())) {
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
  }
}

bool ProcessHasModule(DWORD processId, const std::string& dllName) {
  HANDLE taken = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId);
  if (taken == INVALID_HANDLE_VALUE) {
    return false;
  }
  UniqueWin32Handle snapshot(taken);
  MODULEENTRY32 module{};
  module.dwSize = sizeof module;
  for (BOOL more = ::Module32First(snapshot.get(), &module); more; more = ::Module32Next(snapshot.get(), &module)) {
    if (EqualsIgnoringAsciiCase(module.szModule, dllName)) {
      return true;
    }
  }
  return false;
}

ConsoleRun RunConsoleProgram(const std::string& exe, const std::string& arguments, std::chrono::milliseconds bound,
                             std::optional<std::size_t> closeOutputAfter) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ConsoleRun run;
  if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
    return run;
  }
  UniqueWin32Handle reader(readEnd);
  UniqueWin32Handle writer(writeEnd);
  ::SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

  std::string commandLine = Quote(exe) + (arguments.empty() ? "" : " " + arguments);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = writer.get();
  startup.hStdError = writer.get();
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
    return run;
  }
  ::CloseHandle(info.hThread);
  UniqueWin32Handle process(info.hProcess);
  writer = UniqueWin32Handle();  // the child holds the only write end: reading ends when it does

  // Reads what is there while the program runs (a full pipe would block it), the rest once it has
  // ended: with every write end closed, the last read fails.
  const auto readChunk = [&] {
    char chunk[512];
    DWORD read = 0;
    if (!::ReadFile(reader.get(), chunk, sizeof chunk, &read, nullptr) || read == 0) {
      return false;
    }
    run.output.append(chunk, read);
    return true;
  };
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (::WaitForSingleObject(process.get(), 20) != WAIT_OBJECT_0) {
    DWORD available = 0;
    while (reader && ::PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           readChunk()) {
    }
    if (closeOutputAfter && run.output.size() >= *closeOutputAfter) {
      reader = UniqueWin32Handle();
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::TerminateProcess(process.get(), 1);
      ::WaitForSingleObject(process.get(), 10000);
      return run;
    }
  }
  while (reader && readChunk()) {
  }
  DWORD code = 0;
  if (::GetExitCodeProcess(process.get(), &code)) {
    run.exitCode = code;
  }
  return run;
}

namespace {

std::vector<char> VersionResourceOf(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  std::vector<char> data(size);
  if (size == 0 || ::GetFileVersionInfoA(path.c_str(), 0, size, data.data()) == FALSE) {
    data.clear();
  }
  return data;
}

}  // namespace

std::string FileVersionOf(const std::string& path) {
  std::vector<char> data = VersionResourceOf(path);
  char* text = nullptr;
  UINT length = 0;
  if (data.empty() ||
      ::VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&text),
                       &length) == FALSE ||
      length == 0) {
    return {};
  }
  return {text, ::strnlen(text, length)};
}

std::string FixedFileVersionOf(const std::string& path) {
  std::vector<char> data = VersionResourceOf(path);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (data.empty() || ::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) == FALSE ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return {};
  }
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

}  // namespace velmor::e2e
