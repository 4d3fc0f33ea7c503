#include "app/WebPages.h"

// The build passes the site as a wide string literal.
#ifndef VELMOR_WEB_SITE
#error "VELMOR_WEB_SITE must name the maker's https site, for example L\"https://www.example.com\""
#endif

namespace velmor {

WebPageTable BuildWebPages() {
  const std::wstring site = VELMOR_WEB_SITE;
  WebPageTable pages;
  pages[kHomePage] = site;
  pages[kContactPage] = site + L"/contact";
  pages[kFeedbackPage] = site + L"/feedback";
  pages[kVersionPage] = site + L"/vers/ts2024/lwiksoa";
  return pages;
}

}  // namespace velmor
