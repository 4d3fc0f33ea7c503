// The benchmark's Windows-side prober. It starts the agent and the baseline itself, one at a time and
// interleaved, so that Wine's start-up of the prober is never counted, and times each start until
// the window is findable by the agent's class and caption, and each quit command until the process
// has ended. Between the two, it hands the running program to the Linux side, which reads the Wine
// process's memory and idle cost from /proc, and goes on when told. Each program has ended, or been
// ended, before the next one starts: both hold the single-instance marker while they live.
//
//   velmor_bench_probe <rounds> <sync-folder>
//
// The programs (velmor.exe, velmor_baseline.exe, tessaly_window.exe) are the ones beside the prober.
// Each is started with the argument 1, as at logon, while the product window is present. Handshake,
// per program start number n (from 0): the prober writes <sync-folder>\ready-n holding the program's
// name and process id, and waits for <sync-folder>\measured-n. Output, one line per start:
//   start <n> <name> <round> <start-ms> <quit-ms>
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "peers/AgentContract.h"
#include "tests/e2e/Processes.h"

namespace {

constexpr DWORD kStartBoundMs = 30000;
constexpr DWORD kExitBoundMs = 30000;
constexpr DWORD kHandshakeBoundMs = 120000;

std::string OwnFolder() {
  std::array<char, MAX_PATH * 4> buffer{};
  const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::string path(buffer.data(), length);
  return path.substr(0, path.find_last_of('\\') + 1);
}

double MillisecondsSince(LARGE_INTEGER start) {
  LARGE_INTEGER now{};
  LARGE_INTEGER frequency{};
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  // Written under another name and renamed, so that the reader never sees it half written.
  const std::string partial = path + ".partial";
  const HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

struct Started {
  PROCESS_INFORMATION process{};
  HWND window = nullptr;
  double startMs = 0;
};

// Started with the user's rights, as at logon: an agent that runs elevated does not stay resident.
bool Launch(const std::string& exe, const std::string& arguments, PROCESS_INFORMATION& process) {
  std::string commandLine = "\"" + exe + "\" " + arguments;
  if (velmor::e2e::RunsElevated()) {
    return velmor::e2e::CreateProcessWithUserRights(exe, commandLine, process);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  return CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process) != FALSE;
}

// The window of this process that bears the agent's class and caption, polled every millisecond.
HWND WaitForNamedWindow(DWORD processId, DWORD boundMs) {
  const std::string className(velmor::peers::kAgentWindowClass);
  const std::string caption(velmor::peers::kAgentWindowCaption);
  const LARGE_INTEGER start = Now();
  while (MillisecondsSince(start) < boundMs) {
    const HWND window = FindWindowA(className.c_str(), caption.c_str());
    DWORD owner = 0;
    if (window != nullptr && GetWindowThreadProcessId(window, &owner) != 0 && owner == processId) {
      return window;
    }
    Sleep(1);
  }
  return nullptr;
}

bool StartAndFind(const std::string& exe, Started& started) {
  const LARGE_INTEGER start = Now();
  if (!Launch(exe, "1", started.process)) {
    return false;
  }
  started.window = WaitForNamedWindow(started.process.dwProcessId, kStartBoundMs);
  started.startMs = MillisecondsSince(start);
  return started.window != nullptr;
}

// Sends the quit command; the time until the process has ended.
double QuitAndWait(const Started& started) {
  const LARGE_INTEGER start = Now();
  constexpr velmor::peers::AgentCommandMessage kQuit = velmor::peers::QuitCommand();
  PostMessageA(started.window, kQuit.message, kQuit.wParam, kQuit.lParam);
  const DWORD waited = WaitForSingleObject(started.process.hProcess, kExitBoundMs);
  const double quitMs = MillisecondsSince(start);
  return waited == WAIT_OBJECT_0 ? quitMs : -1;
}

bool Handshake(const std::string& sync, int number, const std::string& name, DWORD processId) {
  const std::string suffix = "-" + std::to_string(number);
  if (!WriteTextFile(sync + "ready" + suffix, name + " " + std::to_string(processId) + "\n")) {
    return false;
  }
  const LARGE_INTEGER start = Now();
  while (!FileExists(sync + "measured" + suffix)) {
    if (MillisecondsSince(start) > kHandshakeBoundMs) {
      return false;
    }
    Sleep(10);
  }
  return true;
}

void Close(PROCESS_INFORMATION& process) {
  if (process.hProcess != nullptr) {
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, kExitBoundMs);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  process = PROCESS_INFORMATION{};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: velmor_bench_probe <rounds> <sync-folder>\n", stderr);
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  std::string sync = argv[2];
  if (sync.empty() || sync.back() != '\\') {
    sync += '\\';
  }
  const std::string folder = OwnFolder();
  const std::array<std::string, 2> names = {"velmor.exe", "velmor_baseline.exe"};

  // The product window, present and visible: the agent started with 1 then only stays resident.
  PROCESS_INFORMATION product{};
  if (!Launch(folder + "tessaly_window.exe", "--visible", product)) {
    std::fputs("velmor_bench_probe: the product window stand-in did not start\n", stderr);
    return 1;
  }
  Sleep(1000);

  int number = 0;
  int status = 0;
  for (int round = 0; round < rounds && status == 0; ++round) {
    // Interleaved, the order alternating, so that a drift of the machine weighs on both alike.
    for (int i = 0; i < 2 && status == 0; ++i) {
      const std::string& name = names[static_cast<std::size_t>((round + i) % 2)];
      Started started;
      if (!StartAndFind(folder + name, started)) {
        std::fprintf(stderr, "velmor_bench_probe: %s did not become findable\n", name.c_str());
        status = 1;
      } else if (!Handshake(sync, number, name, started.process.dwProcessId)) {
        std::fputs("velmor_bench_probe: the Linux side did not answer\n", stderr);
        status = 1;
      } else {
        const double quitMs = QuitAndWait(started);
        std::printf("start %d %s %d %.3f %.3f\n", number, name.c_str(), round, started.startMs, quitMs);
        std::fflush(stdout);
      }
      Close(started.process);
      ++number;
    }
  }
  Close(product);
  return status;
}
