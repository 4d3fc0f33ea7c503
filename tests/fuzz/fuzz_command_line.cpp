// Any process can start the agent with any command line: the splitter must take every input,
// and what it returns must obey its own rules.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/CommandLine.h"
#include "platform/AsciiCase.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// Two input bytes make one UTF-16 code unit, as GetCommandLineW would hand it over.
std::wstring ToCommandLine(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  }
  return text;
}

}  // namespace

using velmor::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring commandLine = ToCommandLine(data, size);
  const auto tokens = velmor::SplitCommandLine(commandLine);

  std::size_t total = 0;
  for (const std::wstring& token : tokens) {
    Require(!token.empty());                          // empty quotes form no argument
    Require(token.find(L'"') == std::wstring::npos);  // quotes are dropped
    total += token.size();
  }
  Require(total <= commandLine.size());

  const auto first = velmor::FirstArgument(commandLine);
  Require(first.has_value() == (tokens.size() >= 2));
  if (first) {
    Require(*first == tokens[1]);
    const std::wstring lower = velmor::LowerAscii(*first);
    Require(lower.size() == first->size());
    Require(velmor::LowerAscii(lower) == lower);
  }
  return 0;
}
