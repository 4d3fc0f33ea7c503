#include "tests/e2e/ServiceStandin.h"

#include "peers/ProductPeers.h"
#include "platform/win32/Win32Handles.h"
#include "tests/e2e/Poll.h"
#include "tests/e2e/Processes.h"

namespace velmor::e2e {
namespace {

const std::string& ServiceName() {
  static const std::string name(peers::kProductServiceName);
  return name;
}

UniqueWin32Service OpenManager() {
  return UniqueWin32Service(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

UniqueWin32Service OpenStandin(SC_HANDLE manager) {
  return UniqueWin32Service(::OpenServiceA(manager, ServiceName().c_str(), SERVICE_ALL_ACCESS));
}

std::string StandinPath() {
  return Quote(ExecutableFolder() + "tsysrv.exe");
}

std::string CommandOf(SC_HANDLE service) {
  DWORD needed = 0;
  ::QueryServiceConfigA(service, nullptr, 0, &needed);
  std::string buffer(needed, '\0');
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (needed == 0 || !::QueryServiceConfigA(service, config, needed, &needed) || config->lpBinaryPathName == nullptr) {
    return {};
  }
  return config->lpBinaryPathName;
}

// Whether the installed service runs this build's stand-in (its command line starts with its path).
bool IsStandin(SC_HANDLE service) {
  const std::string binary = CommandOf(service);
  const std::string standin = StandinPath();
  return binary.size() >= standin.size() &&
         ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, binary.c_str(), static_cast<int>(standin.size()),
                          standin.c_str(), static_cast<int>(standin.size())) == CSTR_EQUAL;
}

DWORD CurrentState(SC_HANDLE service) {
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service, &status)) {
    return 0;
  }
  return status.dwCurrentState;
}

bool WaitForState(SC_HANDLE service, DWORD state) {
  return WaitUntil([&] { return CurrentState(service) == state; }, 20s);
}

DWORD Stop(SC_HANDLE service) {
  if (CurrentState(service) == SERVICE_STOPPED) {
    return 0;
  }
  SERVICE_STATUS status{};
  if (!::ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    return ::GetLastError();
  }
  return WaitForState(service, SERVICE_STOPPED) ? 0 : ERROR_TIMEOUT;
}

}  // namespace

DWORD InstallServiceStandin(const std::string& options) {
  UniqueWin32Service manager = OpenManager();
  if (!manager) {
    return ::GetLastError();
  }
  std::string binaryPath = StandinPath();
  if (!options.empty()) {
    binaryPath += " " + options;
  }
  UniqueWin32Service service(::CreateServiceA(
      manager.get(), ServiceName().c_str(), "Tessaly service stand-in", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  return service ? 0 : ::GetLastError();
}

DWORD StartServiceStandin() {
  UniqueWin32Service manager = OpenManager();
  UniqueWin32Service service = manager ? OpenStandin(manager.get()) : UniqueWin32Service();
  if (!service) {
    return ::GetLastError();
  }
  if (!::StartServiceA(service.get(), 0, nullptr)) {
    return ::GetLastError();
  }
  return WaitForState(service.get(), SERVICE_RUNNING) ? 0 : ERROR_TIMEOUT;
}

bool ProductServiceInstalled() {
  UniqueWin32Service manager = OpenManager();
  UniqueWin32Service service = manager ? OpenStandin(manager.get()) : UniqueWin32Service();
  return service && !IsStandin(service.get());
}

bool ServiceStandinInstalled() {
  UniqueWin32Service manager = OpenManager();
  UniqueWin32Service service = manager ? OpenStandin(manager.get()) : UniqueWin32Service();
  return service && IsStandin(service.get());
}

std::optional<std::string> InstalledServiceCommand() {
  UniqueWin32Service manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    return std::string();  // nobody can tell: taken as installed
  }
  UniqueWin32Service service(::OpenServiceA(manager.get(), ServiceName().c_str(), SERVICE_QUERY_CONFIG));
  if (!service) {
    return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? std::nullopt : std::optional<std::string>("");
  }
  return CommandOf(service.get());
}

void RemoveServiceStandin() {
  UniqueWin32Service manager = OpenManager();
  if (!manager) {
    return;
  }
  {
    UniqueWin32Service service = OpenStandin(manager.get());
    if (!service || !IsStandin(service.get())) {
      return;
    }
    if (Stop(service.get()) != 0) {
      // A stand-in that ended itself inside its handler still counts as running, and the service
      // manager refuses to stop it: start it again, then stop it.
      ::StartServiceA(service.get(), 0, nullptr);
      WaitForState(service.get(), SERVICE_RUNNING);
      Stop(service.get());
    }
    ::DeleteService(service.get());
  }
  WaitUntil([&] { return !OpenStandin(manager.get()); }, 20s);
}

}  // namespace velmor::e2e
