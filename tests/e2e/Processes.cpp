#include "tests/e2e/Processes.h"

#include <string_view>

namespace velmor::e2e {

std::string ExecutableFolder() {
  char buffer[MAX_PATH * 4] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string path(buffer, length);
  const auto slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Quote(const std::string& text) {
  return "\"" + text + "\"";
}

ChildProcess ChildProcess::Launch(const std::string& exe, const std::string& arguments) {
  std::string commandLine = Quote(exe);
  if (!arguments.empty()) {
    commandLine += " " + arguments;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ChildProcess child;
  if (::CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
    ::CloseHandle(info.hThread);
    child.process_ = UniqueHandle(info.hProcess);
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

// Whether the process runs a program that lies directly in ExecutableFolder().
bool RunsOurProgram(HANDLE process) {
  char image[MAX_PATH * 4] = {};
  DWORD length = sizeof image;
  if (!::QueryFullProcessImageNameA(process, 0, image, &length)) {
    return false;
  }
  const std::string folder = ExecutableFolder();
  const std::string_view path(image, length);
  return path.size() > folder.size() &&
         ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.data(), static_cast<int>(folder.size()),
                          folder.c_str(), static_cast<int>(folder.size())) == CSTR_EQUAL &&
         path.find('\\', folder.size()) == std::string_view::npos;
}

}  // namespace

void TerminateOurProgram(DWORD processId) {
  if (processId == 0 || processId == ::GetCurrentProcessId()) {
    return;
  }
  UniqueHandle process(
      ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (process && RunsOurProgram(process.get())) {
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
  }
}

}  // namespace velmor::e2e
