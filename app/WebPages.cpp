#include "app/WebPages.h"

// The build passes the site as a wide string literal.
#ifndef VELMOR_WEB_SITE
#error "VELMOR_WEB_SITE must name the maker's https site, for example L\"https://www.example.com\""
#endif

namespace velmor {

WebPageTable BuildWebPages() {
  const std::wstring site = VELMOR_WEB_SITE;
  WebPageTable pages;
  pages[peers::kHomePage] = site;
  pages[peers::kContactPage] = site + L"/contact";
  pages[peers::kFeedbackPage] = site + L"/feedback";
  pages[peers::kVersionPage] = site + L"/vers/ts2024/lwiksoa";
  return pages;
}

}  // namespace velmor
