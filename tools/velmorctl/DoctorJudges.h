// velmorctl doctor's judgement: the facts of a desktop (DoctorFacts.h) in, one finding per check out,
// each with its verdict, a stable reason code, what was found, the remedy and the facts a script
// needs; and the report of them, as text for a person or as JSON for a script. Nothing here calls
// the system: the judges predict, with the agent's own rules, what an agent would decide there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/velmorctl/DoctorFacts.h"

namespace velmor::ctl {

// The version of the JSON report's shape: raised whenever a field changes its meaning or goes.
inline constexpr std::uint32_t kDoctorSchemaVersion = 2;

enum class Verdict { Ok, Warning, Problem };

// A fact of a finding for scripts: a text, or a number.
struct FindingField {
  std::string_view name;
  std::wstring text;
  std::optional<std::uint32_t> number;
};

struct Finding {
  std::wstring_view check;
  Verdict verdict = Verdict::Ok;
  std::string_view reason;  // stable, for scripts: "service-stopped"
  std::wstring detail;
  std::wstring remedy;  // empty on an ok line
  std::vector<FindingField> fields;
};

// Every check, in the order of the report.
std::vector<Finding> JudgeDesktop(const DoctorFacts& facts);

// The findings as lines for a person, the last one counting problems and warnings.
std::wstring TextReport(const std::vector<Finding>& findings);
// The findings as one JSON object.
std::wstring JsonReport(const std::vector<Finding>& findings);
// A usage error as one JSON object, for a caller that asked for JSON.
std::wstring JsonUsageError(std::wstring_view message);
// No finding is a problem.
bool Healthy(const std::vector<Finding>& findings);

}  // namespace velmor::ctl
