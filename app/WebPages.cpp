#include "app/WebPages.h"

#ifndef VELMOR_WEB_SITE
#error "VELMOR_WEB_SITE must name the maker's https site, for example https://www.example.com"
#endif

#define VELMOR_WIDEN_INNER(text) L##text
#define VELMOR_WIDEN(text) VELMOR_WIDEN_INNER(text)

namespace velmor {

WebPageTable BuildWebPages() {
  const std::wstring site = VELMOR_WIDEN(VELMOR_WEB_SITE);
  return {site, site + L"/contact", site + L"/feedback", site + L"/vers/ts2024/lwiksoa"};
}

}  // namespace velmor
