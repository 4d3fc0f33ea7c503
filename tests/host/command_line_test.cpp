// Splitting the command line into arguments: untrusted input of any length and content.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "platform/AsciiCase.h"

namespace velmor {
namespace {

using Tokens = std::vector<std::wstring>;

TEST(SplitCommandLine, QuotesGroupAndAreDroppedAnywhereInAToken) {
  EXPECT_EQ(SplitCommandLine(L"\"C:\\Program Files\\P\\velmor.exe\" firststart"),
            (Tokens{L"C:\\Program Files\\P\\velmor.exe", L"firststart"}));
  EXPECT_EQ(SplitCommandLine(L"a fi\"rst st\"art b"), (Tokens{L"a", L"first start", L"b"}));
  EXPECT_EQ(SplitCommandLine(L"a \"x\"\"y\"z"), (Tokens{L"a", L"xyz"}));
  EXPECT_EQ(FirstArgument(L"velmor.exe \"FirstStart\""), L"FirstStart");
}

TEST(SplitCommandLine, EmptyQuotesFormNoArgument) {
  EXPECT_EQ(SplitCommandLine(L"a \"\" b"), (Tokens{L"a", L"b"}));
  EXPECT_EQ(SplitCommandLine(L"a \"\"\"\" b"), (Tokens{L"a", L"b"}));
  EXPECT_EQ(FirstArgument(L"velmor.exe \"\" firststart"), L"firststart")
      << "an empty pair is no argument, so the next one is the first";
  EXPECT_EQ(FirstArgument(L"velmor.exe \"\""), std::nullopt);
}

TEST(SplitCommandLine, UnbalancedQuoteRunsToTheEnd) {
  EXPECT_EQ(SplitCommandLine(L"a \"b c"), (Tokens{L"a", L"b c"}));
  EXPECT_EQ(SplitCommandLine(L"a b\""), (Tokens{L"a", L"b"}));
  EXPECT_EQ(SplitCommandLine(L"a \""), (Tokens{L"a"}));
}

TEST(SplitCommandLine, EveryCodeUpToSpaceSeparates) {
  EXPECT_EQ(SplitCommandLine(L"a\tb\nc\rd\x01"
                             L"e\x1F"
                             L"f g"),
            (Tokens{L"a", L"b", L"c", L"d", L"e", L"f", L"g"}));
  EXPECT_EQ(SplitCommandLine(std::wstring(L"a\0b", 3)), (Tokens{L"a", L"b"}));
  EXPECT_EQ(SplitCommandLine(L"a \x21"), (Tokens{L"a", L"!"})) << "33 is a character";
  EXPECT_EQ(SplitCommandLine(L"a \"b\tc\""), (Tokens{L"a", L"b\tc"})) << "quoted separators are kept";
  EXPECT_EQ(SplitCommandLine(L" \t "), Tokens{});
  EXPECT_EQ(FirstArgument(L"velmor.exe\t\tfirststart\t"), L"firststart");
  EXPECT_EQ(SplitCommandLine(L"a \xFFFF \x00A0"), (Tokens{L"a", L"\xFFFF", L"\x00A0"}))
      << "code units above 32 are never separators";
}

TEST(SplitCommandLine, BackslashesArePlainCharacters) {
  EXPECT_EQ(SplitCommandLine(L"a b\\\"c d\""), (Tokens{L"a", L"b\\c d"}));
  EXPECT_EQ(SplitCommandLine(L"a \\\\ c\\"), (Tokens{L"a", L"\\\\", L"c\\"}));
}

TEST(SplitCommandLine, VeryLongInput) {
  const std::wstring longArgument(100000, L'x');
  const std::wstring line = L"velmor.exe " + longArgument + L" " + std::wstring(50000, L' ') + L"y";
  const Tokens tokens = SplitCommandLine(line);
  ASSERT_EQ(tokens.size(), 3U);
  EXPECT_EQ(tokens[1], longArgument);
  EXPECT_EQ(tokens[2], L"y");
  std::wstring manyQuotes(200001, L'"');
  EXPECT_EQ(SplitCommandLine(L"a " + manyQuotes + L"b"), (Tokens{L"a", L"b"}));
}

TEST(FirstArgument, IsTheTokenAfterTheProgram) {
  EXPECT_EQ(FirstArgument(L""), std::nullopt);
  EXPECT_EQ(FirstArgument(L"\"C:\\P\\velmor.exe\""), std::nullopt);
  EXPECT_EQ(FirstArgument(L"\"C:\\P\\velmor.exe\" 1 firststart"), L"1");
  EXPECT_EQ(FirstArgument(L"velmor.exe\"\" x"), L"x") << "quotes glued to the program name stay in its token";
}

TEST(LowerAscii, LowersOnlyAsciiLetters) {
  EXPECT_EQ(LowerAscii(L"FirstNotStartButRestart"), L"firstnotstartbutrestart");
  EXPECT_EQ(LowerAscii(L"\x00C4@[`{Z"), L"\x00C4@[`{z");
}

}  // namespace
}  // namespace velmor
