// Stands in for the product's service "tsysrv": an own-process service that takes the agent's
// control code and, like the product's service, can bring the product's user interface up.
//
//   tsysrv.exe [--log <file>] [--on-control accept|die] [--launch <exe> [--launch-args <text>]]
//
// The options come from the service's command line (its binary path). Log lines: "running",
// "control <code>" for every user-defined control, "launched <pid>" or "launch failed <error>",
// "stopped". With --on-control die the process ends inside the handler, the only way under Wine to
// make ControlService fail (the handler's return code is not passed on there).
#include <windows.h>

#include <string>
#include <string_view>

#include "peers/ProductPeers.h"
#include "tests/standins/StandinLog.h"

namespace {

struct Options {
  std::string log;
  bool dieOnControl = false;
  std::string launchExe;
  std::string launchArgs;
};

Options g_options;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

void ReportStatus(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = NO_ERROR;
  ::SetServiceStatus(g_statusHandle, &status);
}

// Starts the product window in the interactive desktop, as the product's service does: without
// lpDesktop the window would live in the service's window station, out of the user's sight.
void LaunchProductWindow() {
  std::string commandLine = "\"" + g_options.launchExe + "\"";
  if (!g_options.launchArgs.empty()) {
    commandLine += " " + g_options.launchArgs;
  }
  std::string desktop = "winsta0\\default";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop.data();
  PROCESS_INFORMATION process{};
  if (::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    velmor::standins::AppendLogLine(g_options.log, "launched " + std::to_string(process.dwProcessId));
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  } else {
    velmor::standins::AppendLogLine(g_options.log, "launch failed " + std::to_string(::GetLastError()));
  }
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control == SERVICE_CONTROL_STOP) {
    ReportStatus(SERVICE_STOP_PENDING);
    ::SetEvent(g_stopEvent);
    return NO_ERROR;
  }
  if (control == SERVICE_CONTROL_INTERROGATE) {
    return NO_ERROR;
  }
  if (control >= 128 && control <= 255) {
    velmor::standins::AppendLogLine(g_options.log, "control " + std::to_string(control));
    if (g_options.dieOnControl) {
      ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    if (control == velmor::peers::kServiceControlCode && !g_options.launchExe.empty()) {
      LaunchProductWindow();
    }
    return NO_ERROR;
  }
  return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  const std::string name(velmor::peers::kProductServiceName);
  g_statusHandle = ::RegisterServiceCtrlHandlerExA(name.c_str(), ControlHandler, nullptr);
  if (g_statusHandle == nullptr) {
    return;
  }
  ReportStatus(SERVICE_RUNNING);
  velmor::standins::AppendLogLine(g_options.log, "running");
  ::WaitForSingleObject(g_stopEvent, INFINITE);
  velmor::standins::AppendLogLine(g_options.log, "stopped");
  ReportStatus(SERVICE_STOPPED);
}

void ParseOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--log" && i + 1 < argc) {
      g_options.log = argv[++i];
    } else if (arg == "--on-control" && i + 1 < argc) {
      g_options.dieOnControl = std::string_view(argv[++i]) == "die";
    } else if (arg == "--launch" && i + 1 < argc) {
      g_options.launchExe = argv[++i];
    } else if (arg == "--launch-args" && i + 1 < argc) {
      g_options.launchArgs = argv[++i];
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  ParseOptions(argc, argv);
  g_stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::string name(velmor::peers::kProductServiceName);
  SERVICE_TABLE_ENTRYA table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
  const BOOL dispatched = ::StartServiceCtrlDispatcherA(table);
  ::CloseHandle(g_stopEvent);
  return dispatched ? 0 : 1;
}
