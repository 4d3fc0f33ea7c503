// Letter case of ASCII text, as Windows compares file names, window classes and registry names:
// A to Z against a to z, every other character (and every byte of a double-byte one) as it is.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace velmor {

template <typename Char>
constexpr Char LowerAsciiChar(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

inline std::wstring LowerAscii(std::wstring_view text) {
  std::wstring lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), LowerAsciiChar<wchar_t>);
  return lower;
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return LowerAsciiChar(x) == LowerAsciiChar(y); });
}

// UTF-16 text against an ASCII name.
inline bool EqualsIgnoringAsciiCase(std::wstring_view text, std::string_view ascii) {
  return std::equal(text.begin(), text.end(), ascii.begin(), ascii.end(), [](wchar_t x, char y) {
    return LowerAsciiChar(x) == static_cast<wchar_t>(static_cast<unsigned char>(LowerAsciiChar(y)));
  });
}

}  // namespace velmor
