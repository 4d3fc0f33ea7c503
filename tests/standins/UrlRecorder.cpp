// Stands in for the user's web browser: registered as the https open command ("<recorder>" "%1"),
// it appends each URL it is given to a log file: the file named by the environment variable
// VELMOR_URL_LOG, else "url_recorder.log" beside the recorder.
#include <windows.h>

#include <string>

#include "tests/standins/StandinLog.h"

namespace {

std::string LogPath() {
  char buffer[MAX_PATH * 2] = {};
  const DWORD length = ::GetEnvironmentVariableA("VELMOR_URL_LOG", buffer, sizeof buffer);
  if (length > 0 && length < sizeof buffer) {
    return std::string(buffer, length);
  }
  const DWORD pathLength = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string path(buffer, pathLength);
  const auto slash = path.find_last_of('\\');
  path.erase(slash == std::string::npos ? 0 : slash + 1);
  return path + "url_recorder.log";
}

}  // namespace

int main(int argc, char** argv) {
  const std::string log = LogPath();
  for (int i = 1; i < argc; ++i) {
    velmor::standins::AppendLogLine(log, argv[i]);
  }
  return 0;
}
