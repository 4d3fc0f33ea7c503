// The maker's four web pages that the command message can open.
#pragma once

#include <array>
#include <string>

namespace velmor {

inline constexpr std::size_t kWebPageCount = 4;
// Each page's index in the table, as the command message names it.
inline constexpr std::size_t kHomePage = 0;
inline constexpr std::size_t kContactPage = 1;
inline constexpr std::size_t kFeedbackPage = 2;
inline constexpr std::size_t kVersionPage = 3;
using WebPageTable = std::array<std::wstring, kWebPageCount>;

// The home page, "/contact", "/feedback" and "/vers/ts2024/lwiksoa", in that order, on the maker's
// site. The site is set when the agent is built (VELMOR_WEB_SITE).
WebPageTable BuildWebPages();

}  // namespace velmor
