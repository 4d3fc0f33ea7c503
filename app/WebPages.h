// The maker's web pages that the command message can open, as full addresses.
#pragma once

#include <array>
#include <string>

#include "peers/AgentContract.h"

namespace velmor {

// Indexed as the command message names the pages (peers/AgentContract.h).
using WebPageTable = std::array<std::wstring, peers::kWebPages.size()>;

// Each page of the contract's table on the maker's site, which is set when the agent is built
// (VELMOR_WEB_SITE).
WebPageTable BuildWebPages();

}  // namespace velmor
