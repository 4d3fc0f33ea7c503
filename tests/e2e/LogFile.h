// Reading the line logs that the stand-ins append to, while they may still be writing.
#pragma once

#include <string>
#include <vector>

namespace velmor::e2e {

// The complete lines of the log file; none when it does not exist (yet).
std::vector<std::string> ReadLogLines(const std::string& path);
// How many of those lines start with `prefix`.
std::size_t CountLogLines(const std::string& path, const std::string& prefix);

}  // namespace velmor::e2e
