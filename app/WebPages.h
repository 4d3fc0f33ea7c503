// The maker's four web pages that the command message can open.
#pragma once

#include <array>
#include <string>

#include "peers/AgentContract.h"

namespace velmor {

// Indexed as the command message names the pages (peers/AgentContract.h).
using WebPageTable = std::array<std::wstring, peers::kWebPageCount>;

// The home page, "/contact", "/feedback" and "/vers/ts2024/lwiksoa", in that order, on the maker's
// site. The site is set when the agent is built (VELMOR_WEB_SITE).
WebPageTable BuildWebPages();

}  // namespace velmor
