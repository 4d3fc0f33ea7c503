// The machine-wide parts of the simulated desktop that a test scripts before it starts an agent:
// the registry, the service manager, the operating-system version, the privileges of the reboot path
// and the message dialogs. Each part keeps a record of what the agents asked of it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AgentPlatform.h"

namespace velmor::sim {

using Ms = std::uint64_t;  // virtual milliseconds since the desktop started

// --- Text -------------------------------------------------------------------------------------
// Tests write the system's text in UTF-8; the system holds it in UTF-16 code units, one a wchar_t.
// A code unit that is no character of its own (a lone surrogate) comes out in UTF-8 as U+FFFD.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

// --- Registry (HKEY_LOCAL_MACHINE only) --------------------------------------------------------
// A value's type and its bytes as the registry stores them: a string in UTF-16 (little-endian).
struct RegValue {
  std::uint32_t type = win32::kRegSz;
  std::vector<std::uint8_t> bytes;
};

struct RegWriteRecord {
  std::uint32_t processId;
  std::string subKey;
  std::string valueName;
  RegValue value;
};

class SimRegistry {
 public:
  // Key paths and value names are matched without regard to ASCII case, as Windows does.
  void CreateKey(std::string_view subKey);
  // Stores `text` (UTF-8) plus its terminating NUL as REG_SZ in UTF-16 (creating the key when needed).
  void SetString(std::string_view subKey, std::string_view valueName, std::string_view text);
  void SetValue(std::string_view subKey, std::string_view valueName, RegValue value);
  [[nodiscard]] std::optional<RegValue> Value(std::string_view subKey, std::string_view valueName) const;
  // The value's text up to its first NUL, in UTF-8; nothing when the value is missing.
  [[nodiscard]] std::optional<std::string> StringValue(std::string_view subKey, std::string_view valueName) const;

  // When set, opening any key with KEY_SET_VALUE fails with ERROR_ACCESS_DENIED (5): no admin rights.
  bool denyWriteAccess = false;
  // When set, opening any key with KEY_QUERY_VALUE fails so: a key whose security refuses reading.
  bool denyReadAccess = false;
  // Runs before each value query (another program changing the value between two reads).
  std::function<void()> onQuery;
  std::vector<RegWriteRecord> writes;

  // Used by the simulated processes.
  [[nodiscard]] std::map<std::string, RegValue>* FindKey(std::string_view subKey);

 private:
  std::map<std::string, std::map<std::string, RegValue>> keys_;  // lower-cased path -> lower-cased name
};

// --- Service Control Manager -------------------------------------------------------------------
struct ControlRecord {
  std::uint32_t processId;
  std::uint32_t control;
  Ms at;
  Win32Status result;
};

class SimServiceManager {
 public:
  // Answers of successive ControlService calls; once used up, every call answers `defaultAnswer`.
  void ScriptControlAnswers(std::vector<Win32Status> answers, Win32Status thenAnswer = win32::kErrorSuccess);

  Win32Status openManagerError = win32::kErrorSuccess;  // non-zero: OpenSCManagerA fails with it
  bool serviceInstalled = true;                         // false: OpenServiceA fails with 1060
  Win32Status openServiceError = win32::kErrorSuccess;  // non-zero: OpenServiceA fails with it
  std::string serviceName = "tsysrv";
  std::deque<Win32Status> controlAnswers;
  Win32Status defaultAnswer = win32::kErrorSuccess;
  // Runs after each accepted control request, e.g. to bring up the product window.
  std::function<void()> onAccepted;

  std::vector<ControlRecord> controls;                // every ControlService call, in order
  std::vector<std::uint32_t> managerAccessRequested;  // per OpenSCManagerA call
  std::vector<std::uint32_t> serviceAccessRequested;  // per OpenServiceA call
  std::vector<std::string> serviceNamesRequested;     // per OpenServiceA call
};

// --- Operating-system version ------------------------------------------------------------------
struct VerifyRecord {
  std::uint32_t processId;
  OsVersionInfoEx info;
  std::uint32_t typeMask;
  std::uint64_t conditionMask;
  bool result;
};

struct SimVersion {
  std::uint32_t major = 10;
  std::uint32_t minor = 0;
  std::uint16_t servicePackMajor = 0;
  std::uint16_t servicePackMinor = 0;
  std::vector<VerifyRecord> verifications;
};

// VerSetConditionMask as Windows computes it: three bits of condition per type bit.
std::uint64_t VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeBitMask, std::uint8_t condition);
// RtlVerifyVersionInfo's answer for major, minor and service pack (major.minor.spMajor.spMinor are
// compared as one number, each level with its own condition); sets `error` on a false answer.
bool VerifyVersion(const SimVersion& system, const OsVersionInfoEx& wanted, std::uint32_t typeMask,
                   std::uint64_t conditionMask, Win32Status& error);

// --- Privileges and shutdown -------------------------------------------------------------------
struct AdjustRecord {
  std::uint32_t processId;
  bool disableAll;
  TokenPrivilege privilege;
};

struct ExitWindowsRecord {
  std::uint32_t processId;
  std::uint32_t flags;
  std::uint32_t reason;
  Ms at;
};

struct SimPrivileges {
  bool openTokenSucceeds = true;
  Win32Status openTokenError = win32::kErrorAccessDenied;
  // False: AdjustTokenPrivileges succeeds but leaves ERROR_NOT_ALL_ASSIGNED (1300) as last error.
  bool shutdownPrivilegeAssignable = true;
  bool exitWindowsSucceeds = true;

  std::vector<std::uint32_t> tokenAccessRequested;
  std::vector<std::string> privilegeLookups;
  std::vector<AdjustRecord> adjustments;
  std::vector<ExitWindowsRecord> exitWindowsCalls;
};

// The LUID that LookupPrivilegeValueA gives for "SeShutdownPrivilege" on Windows.
inline constexpr std::uint32_t kShutdownPrivilegeLuid = 19;

// --- Message dialogs ---------------------------------------------------------------------------
struct DialogRecord {
  std::uint32_t processId;
  DialogKind kind;
  std::wstring text;
  bool topmost;
  Ms openedAt;
  DialogResult result = DialogResult::Cancelled;  // filled in when the dialog closes
};

// A scripted answer. `whileOpen` runs while the dialog is open: its nested message loop delivers
// messages and timer ticks to the agents, so the test may post commands and call RunUntilIdle or
// AdvanceBy from it. A dialog whose owner window is destroyed meanwhile returns Cancelled.
struct DialogAnswer {
  DialogResult result = DialogResult::Ok;
  std::function<void()> whileOpen;
};

class SimDialogs {
 public:
  void Answer(DialogResult result) { answers.push_back({result, {}}); }
  void AnswerWhileOpen(DialogResult result, std::function<void()> whileOpen) {
    answers.push_back({result, std::move(whileOpen)});
  }
  // The next scripted answer; without one, Ok for error and information dialogs, No for confirmations.
  DialogAnswer Next(DialogKind kind);

  std::deque<DialogAnswer> answers;
  std::vector<DialogRecord> shown;
};

}  // namespace velmor::sim
