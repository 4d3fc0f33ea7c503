// Splitting the process's command line into arguments. Any process can start the agent with any
// command line, so this takes untrusted input of any length and content.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmor {

// Splits a command line: every character with code 32 or below separates arguments; double quotes
// group characters and are dropped; a token that is nothing but quotes forms no argument;
// backslashes are plain characters. The first token is the program itself.
std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine);

// The first argument after the program, or nothing when there is none; later ones are ignored.
std::optional<std::wstring> FirstArgument(std::wstring_view commandLine);

// What the first argument asks for: one of the two install-time keywords (peers/AgentContract.h),
// any other text (a logon start), or nothing (a start by the user).
enum class StartArgument { None, FirstStart, RestartOnly, Other };
StartArgument ClassifyStartArgument(std::wstring_view commandLine);

}  // namespace velmor
