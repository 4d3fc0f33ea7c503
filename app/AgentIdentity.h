// How the agent is known to other processes, and the one message it serves.
#pragma once

#include <cstdint>
#include <string_view>

namespace velmor {

// Other agents find a running agent by this class and caption; the product window shares the class.
inline constexpr std::string_view kAgentWindowClass = "TMainForm";
inline constexpr std::string_view kAgentWindowCaption = "velmor8476035";
// The caption the agent window bears until it names itself.
inline constexpr std::string_view kAgentInitialCaption = "Shell";

// The single-instance marker: a named, page-file-backed mapping of one byte.
inline constexpr std::string_view kInstanceMarkerName = "ls9wk23mkjsuui345j";

// The file name written into the autostart value, whatever the running file is called.
inline constexpr std::string_view kAgentExecutableName = "velmor.exe";

// WM_USER + 1. wParam 0 with lParam 0 quits; wParam 1 opens the web page lParam.
inline constexpr std::uint32_t WM_AGENT_COMMAND = 0x0400 + 1;
inline constexpr std::uintptr_t kAgentCommandQuit = 0;
inline constexpr std::uintptr_t kAgentCommandOpenPage = 1;

}  // namespace velmor
