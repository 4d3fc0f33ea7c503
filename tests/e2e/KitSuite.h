// The suite's run under the test kit: the suite as a process of its own, in a job, its output passed
// on to the console and the kit's log as it comes and read for each case's result. Ctrl+C, Ctrl+Break,
// the console's closing or a case that runs past its bound end the suite, never the kit, which then
// still undoes what the run made.
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/Win32Handles.h"

namespace velmor::e2e::kit {

enum class Outcome { Passed, Failed, Skipped, Unfinished };

struct CaseResult {
  std::string name;  // Suite.Case, as GoogleTest names it
  Outcome outcome = Outcome::Unfinished;
  std::string detail;  // a skip's reason, what a failed or unfinished case printed
  long long milliseconds = 0;
};

// Reads GoogleTest's output line by line: which case runs since when, and how each case ended.
class SuiteProgress {
 public:
  void Read(std::string_view line);
  // The case that runs, if one does, ended without a result of its own.
  void EndRunningCase(const std::string& why);
  [[nodiscard]] const std::vector<CaseResult>& Results() const { return results_; }
  [[nodiscard]] const std::string& RunningCase() const { return running_; }
  [[nodiscard]] std::chrono::steady_clock::time_point RunningSince() const { return since_; }
  [[nodiscard]] std::size_t Count(Outcome outcome) const;

 private:
  void End(Outcome outcome, long long milliseconds);

  std::vector<CaseResult> results_;
  std::string running_;
  std::vector<std::string> output_;  // what the running case printed
  std::chrono::steady_clock::time_point since_;
};

// Writes the results as JUnit XML: for a run whose suite did not write its own, being ended.
bool WriteJUnit(const std::wstring& path, const std::vector<CaseResult>& results);

// The kit's output: to the console as it comes, and into the log file beside the runner.
class KitLog {
 public:
  explicit KitLog(const std::wstring& path);
  void Raw(std::string_view bytes);
  void Line(const std::string& line);

 private:
  UniqueWin32Handle file_;
};

struct SuiteRun {
  DWORD processId = 0;
  std::optional<DWORD> exitCode;  // nothing when the suite did not start or the kit ended it
  std::string endedBy;            // why the kit ended the suite; empty when it ended by itself
  SuiteProgress progress;
};

// From now on, an interruption of the console ends the suite, not the kit.
void CatchInterrupts();
// Tells a console that is being closed that the run is undone, and it may end the kit.
void RunUndone();

// Runs `commandLine` (the suite), its output passed on to `log`, until it ends, an interruption
// comes or a case runs longer than `caseBound`. Whatever the suite started in its job ends with it.
SuiteRun RunSuite(const std::wstring& exe, std::wstring commandLine, KitLog& log, std::chrono::milliseconds caseBound);

}  // namespace velmor::e2e::kit
