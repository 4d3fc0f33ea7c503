// The agent's own public contract: how other processes (other agents, the product, velmorctl) find
// the running agent and what they may send it. These names and numbers are fixed; the product and
// shipped tools rely on them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmor::peers {

// Other agents find a running agent by this class and caption. The product's main window happens to
// share the class name (kProductWindowClass); each side looks the other up by its own constant.
inline constexpr std::string_view kAgentWindowClass = "TMainForm";
inline constexpr std::string_view kAgentWindowCaption = "velmor8476035";
// The caption the agent window bears until it names itself.
inline constexpr std::string_view kAgentInitialCaption = "Shell";

// The install-time keywords of the first command-line argument, matched without regard to ASCII case:
// an installer runs "velmor.exe firstnotstartbutrestart" (or "firststart", which then goes on as a
// start by the user). Any other argument is a logon start; none is a start by the user.
inline constexpr std::string_view kFirstStartKeyword = "firststart";
inline constexpr std::string_view kRestartOnlyKeyword = "firstnotstartbutrestart";

// The single-instance marker: a named, page-file-backed mapping of one byte.
inline constexpr std::string_view kInstanceMarkerName = "ls9wk23mkjsuui345j";
// The residence lock: a named mutex that the one resident agent owns for as long as it is resident.
// An agent that cannot own it does not stay.
inline constexpr std::string_view kResidenceLockName = "ls9wk23mkjsuui345j.resident";

// The autostart value, which Windows runs at every logon: a string value of this name in the
// machine-wide Run key, in its 32-bit view. The product's installer writes it with the logon
// argument; the agent rewrites it at install time and reads it at every start with an argument.
inline constexpr std::string_view kRunKeyPath = R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Run)";
inline constexpr std::wstring_view kAutostartValueName = L"Tessaly";

// The file name written into the autostart value, whatever the running file is called.
inline constexpr std::string_view kAgentExecutableName = "velmor.exe";
// The name that begins each of the agent's trace lines on the debug output channel, followed by a
// space, the process id in decimal and a colon: "velmor 1234: ..." (platform/Trace.h writes them).
inline constexpr std::string_view kAgentTraceName = "velmor";

// The command message, WM_USER + 1. wParam kAgentCommandQuit with lParam 0 quits; wParam
// kAgentCommandOpenPage opens the web page lParam.
inline constexpr std::uint32_t kAgentCommandMessage = 0x0400 + 1;
inline constexpr std::uintptr_t kAgentCommandQuit = 0;
inline constexpr std::uintptr_t kAgentCommandOpenPage = 1;

// The command message as it travels, sent or posted: every sender writes it through these.
struct AgentCommandMessage {
  std::uint32_t message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};
inline constexpr AgentCommandMessage QuitCommand() {
  return {kAgentCommandMessage, kAgentCommandQuit, 0};
}
inline constexpr AgentCommandMessage OpenPageCommand(std::size_t page) {
  return {kAgentCommandMessage, kAgentCommandOpenPage, static_cast<std::intptr_t>(page)};
}

// The maker's web pages that kAgentCommandOpenPage opens, by their lParam: the name velmorctl knows
// each by, and its path on the maker's site (set when the agent is built). A new page is one line here.
struct WebPage {
  std::wstring_view name;
  std::wstring_view path;
};
inline constexpr std::array kWebPages = {
    WebPage{L"home", L""},
    WebPage{L"contact", L"/contact"},
    WebPage{L"feedback", L"/feedback"},
    WebPage{L"version", L"/vers/ts2024/lwiksoa"},
};

}  // namespace velmor::peers
