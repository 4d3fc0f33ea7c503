// The test kit's run of the suite (velmor_e2e_tests.exe --kit, which velmor-testkit.cmd runs): it
// refuses, changing nothing, where it must not run; else it runs the suite on the kit's own
// programs, undoes whatever the run made, also when a case failed or the run was interrupted, and
// leaves the results beside itself as JUnit XML and a plain log.
#pragma once

#include <string>
#include <vector>

namespace velmor::e2e::kit {

// Exit codes of the kit, the runner's as well.
inline constexpr int kAllPassed = 0;         // every case passed or was skipped, and nothing is left
inline constexpr int kCasesFailed = 1;       // a case failed, or the suite did not finish
inline constexpr int kUsageError = 2;        // an argument the kit does not know
inline constexpr int kNotElevated = 3;       // refused: not run from an elevated prompt
inline constexpr int kProductInstalled = 4;  // refused: the product's service or the agent's package is installed
inline constexpr int kKitIncomplete = 5;     // a file of the kit is missing, or its folder cannot be used
inline constexpr int kLeftBehind = 6;        // the run could not undo all it made (each thing is named)

// `arguments` follow "--kit": nothing, or one --gtest_filter=PATTERN.
int RunTestKit(const std::vector<std::string>& arguments);

}  // namespace velmor::e2e::kit
