#include "tests/e2e/Processes.h"

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

void TerminateProcessById(DWORD processId) {
  if (processId == 0 || processId == ::GetCurrentProcessId()) {
    return;
  }
  UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
  if (process) {
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
  }
}

}  // namespace velmor::e2e
