#include "app/WebPages.h"

#include <cstddef>
#include <string_view>

// The build passes the site as a wide string literal.
#ifndef VELMOR_WEB_SITE
#error "VELMOR_WEB_SITE must name the maker's https site, for example L\"https://www.example.com\""
#endif

namespace velmor {

WebPageTable BuildWebPages() {
  const std::wstring_view site = VELMOR_WEB_SITE;
  WebPageTable pages;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    pages[i] = std::wstring(site) + std::wstring(peers::kWebPages[i].path);
  }
  return pages;
}

}  // namespace velmor
