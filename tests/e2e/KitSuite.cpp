#include "tests/e2e/KitSuite.h"

#include <algorithm>
#include <map>

namespace velmor::e2e::kit {
namespace {

constexpr std::string_view kRun = "[ RUN      ] ";
constexpr std::string_view kOk = "[       OK ] ";
constexpr std::string_view kFailed = "[  FAILED  ] ";
constexpr std::string_view kSkipped = "[  SKIPPED ] ";
constexpr std::size_t kDetailLines = 40;

// The duration at the end of a case's result line, "... (123 ms)"; nothing when there is none.
std::optional<long long> TrailingMilliseconds(std::string_view line) {
  if (!line.ends_with(" ms)")) {
    return std::nullopt;
  }
  const std::size_t open = line.rfind(" (");
  if (open == std::string_view::npos) {
    return std::nullopt;
  }
  long long milliseconds = 0;
  for (char digit : line.substr(open + 2, line.size() - 4 - (open + 2))) {
    if (digit < '0' || digit > '9') {
      return std::nullopt;
    }
    milliseconds = milliseconds * 10 + (digit - '0');
  }
  return milliseconds;
}

// Text of the code page, as UTF-8 and without the characters XML cannot hold.
std::string XmlText(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
  std::erase_if(wide, [](wchar_t c) { return c < 0x20 && c != L'\t' && c != L'\n'; });
  std::string utf8(wide.size() * 3, '\0');
  utf8.resize(
      static_cast<std::size_t>(::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                                     utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr)));
  std::string escaped;
  for (char c : utf8) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

HANDLE InterruptEvent() {
  static const UniqueWin32Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return event.get();
}

HANDLE UndoneEvent() {
  static const UniqueWin32Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return event.get();
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  ::SetEvent(InterruptEvent());
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // Windows ends the process once this returns, or a few seconds later: the undo goes first.
    ::WaitForSingleObject(UndoneEvent(), 4500);
  }
  return TRUE;
}

void WriteAll(HANDLE target, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!::WriteFile(target, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) {
      return;
    }
    bytes.remove_prefix(written);
  }
}

}  // namespace

void SuiteProgress::Read(std::string_view line) {
  if (line.ends_with('\r')) {
    line.remove_suffix(1);
  }
  if (line.starts_with(kRun)) {
    running_ = std::string(line.substr(kRun.size()));
    output_.clear();
    since_ = std::chrono::steady_clock::now();
    return;
  }
  if (running_.empty()) {
    return;
  }
  const std::string_view name = line.substr(std::min(line.size(), kOk.size()));
  const std::optional<long long> milliseconds = TrailingMilliseconds(line);
  if (milliseconds && name.starts_with(running_)) {
    if (line.starts_with(kOk)) {
      End(Outcome::Passed, *milliseconds);
      return;
    }
    if (line.starts_with(kFailed)) {
      End(Outcome::Failed, *milliseconds);
      return;
    }
    if (line.starts_with(kSkipped)) {
      End(Outcome::Skipped, *milliseconds);
      return;
    }
  }
  if (output_.size() < kDetailLines) {
    output_.emplace_back(line);
  }
}

void SuiteProgress::End(Outcome outcome, long long milliseconds) {
  CaseResult result{running_, outcome, {}, milliseconds};
  if (outcome == Outcome::Skipped) {
    // GoogleTest prints "<file>:<line>: Skipped", then the reason.
    const auto marker =
        std::find_if(output_.begin(), output_.end(), [](const std::string& text) { return text.ends_with("Skipped"); });
    if (marker != output_.end() && marker + 1 != output_.end()) {
      result.detail = *(marker + 1);
    }
  } else if (outcome != Outcome::Passed) {
    for (const std::string& text : output_) {
      result.detail += text + "\n";
    }
  }
  results_.push_back(std::move(result));
  running_.clear();
  output_.clear();
}

void SuiteProgress::EndRunningCase(const std::string& why) {
  if (running_.empty()) {
    return;
  }
  output_.insert(output_.begin(), why);
  End(Outcome::Unfinished,
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since_).count());
}

std::size_t SuiteProgress::Count(Outcome outcome) const {
  return static_cast<std::size_t>(std::count_if(results_.begin(), results_.end(),
                                                [&](const CaseResult& result) { return result.outcome == outcome; }));
}

bool WriteJUnit(const std::wstring& path, const std::vector<CaseResult>& results) {
  std::map<std::string, std::vector<const CaseResult*>> suites;
  std::size_t failures = 0;
  std::size_t skipped = 0;
  for (const CaseResult& result : results) {
    suites[result.name.substr(0, result.name.find('.'))].push_back(&result);
    failures += result.outcome == Outcome::Failed || result.outcome == Outcome::Unfinished ? 1 : 0;
    skipped += result.outcome == Outcome::Skipped ? 1 : 0;
  }
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites tests=\"" +
                    std::to_string(results.size()) + "\" failures=\"" + std::to_string(failures) + "\" skipped=\"" +
                    std::to_string(skipped) + "\" name=\"velmor_e2e_tests\">\n";
  for (const auto& [suite, cases] : suites) {
    xml += "  <testsuite name=\"" + XmlText(suite) + "\" tests=\"" + std::to_string(cases.size()) + "\">\n";
    for (const CaseResult* result : cases) {
      const std::size_t dot = result->name.find('.');
      const std::string name = dot == std::string::npos ? result->name : result->name.substr(dot + 1);
      xml += "    <testcase name=\"" + XmlText(name) + "\" classname=\"" + XmlText(suite) + "\" time=\"" +
             std::to_string(static_cast<double>(result->milliseconds) / 1000.0) + "\"";
      switch (result->outcome) {
        case Outcome::Passed:
          xml += "/>\n";
          break;
        case Outcome::Skipped:
          xml += ">\n      <skipped message=\"" + XmlText(result->detail) + "\"/>\n    </testcase>\n";
          break;
        case Outcome::Failed:
        case Outcome::Unfinished:
          xml += ">\n      <failure message=\"" +
                 XmlText(result->outcome == Outcome::Failed ? "failed" : "did not finish") + "\">" +
                 XmlText(result->detail) + "</failure>\n    </testcase>\n";
          break;
      }
    }
    xml += "  </testsuite>\n";
  }
  xml += "</testsuites>\n";
  const UniqueWin32Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  return ::WriteFile(file.get(), xml.data(), static_cast<DWORD>(xml.size()), &written, nullptr) &&
         written == xml.size();
}

KitLog::KitLog(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  file_.reset(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

void KitLog::Raw(std::string_view bytes) {
  WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), bytes);
  if (file_) {
    WriteAll(file_.get(), bytes);
  }
}

void KitLog::Line(const std::string& line) {
  Raw(line + "\r\n");
}

void CatchInterrupts() {
  InterruptEvent();
  UndoneEvent();
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RunUndone() {
  ::SetEvent(UndoneEvent());
}

SuiteRun RunSuite(const std::wstring& exe, std::wstring commandLine, KitLog& log, std::chrono::milliseconds caseBound) {
  SuiteRun run;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
    return run;
  }
  const UniqueWin32Handle reader(readEnd);
  UniqueWin32Handle writer(writeEnd);
  ::SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
  // Whatever the suite starts in its job (agents, stand-ins, installers) ends with the job's last
  // handle: at the end of this function, or with the kit itself.
  const UniqueWin32Handle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job) {
    ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writer.get();
  startup.hStdError = writer.get();
  PROCESS_INFORMATION info{};
  // A process group of its own: Ctrl+C reaches the kit, which ends the suite itself.
  if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info)) {
    log.Line("velmor test kit: the suite did not start: error " + std::to_string(::GetLastError()));
    return run;
  }
  const UniqueWin32Handle thread(info.hThread);
  const UniqueWin32Handle process(info.hProcess);
  run.processId = info.dwProcessId;
  if (job) {
    ::AssignProcessToJobObject(job.get(), process.get());
  }
  ::ResumeThread(thread.get());
  writer.reset();  // the suite holds the write end now

  std::string pending;
  const auto drain = [&] {
    DWORD available = 0;
    while (::PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
      char chunk[4096];
      DWORD read = 0;
      if (!::ReadFile(reader.get(), chunk, std::min<DWORD>(available, sizeof chunk), &read, nullptr) || read == 0) {
        return;
      }
      log.Raw(std::string_view(chunk, read));
      pending.append(chunk, read);
      for (std::size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
        run.progress.Read(std::string_view(pending).substr(0, end));
        pending.erase(0, end + 1);
      }
    }
  };
  for (;;) {
    drain();
    if (::WaitForSingleObject(process.get(), 50) == WAIT_OBJECT_0) {
      drain();
      break;
    }
    if (::WaitForSingleObject(InterruptEvent(), 0) == WAIT_OBJECT_0) {
      run.endedBy = "interrupted";
      break;
    }
    const std::string& running = run.progress.RunningCase();
    if (!running.empty() && std::chrono::steady_clock::now() - run.progress.RunningSince() > caseBound) {
      run.endedBy = "the case " + running + " ran longer than " +
                    std::to_string(std::chrono::duration_cast<std::chrono::seconds>(caseBound).count()) + " s";
      break;
    }
  }
  if (!run.endedBy.empty()) {
    if (job) {
      ::TerminateJobObject(job.get(), 1);
    }
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
    drain();
  } else {
    DWORD code = 0;
    if (::GetExitCodeProcess(process.get(), &code)) {
      run.exitCode = code;
    }
  }
  if (!pending.empty()) {
    run.progress.Read(pending);
  }
  run.progress.EndRunningCase(run.endedBy.empty() ? "the suite's process ended during this case, with exit code " +
                                                        std::to_string(run.exitCode.value_or(0))
                                                  : "the kit ended the suite during this case: " + run.endedBy);
  return run;
}

}  // namespace velmor::e2e::kit
