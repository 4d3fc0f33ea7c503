// The Windows-side suite's entry: GoogleTest's, or with "--kit" first the test kit's run of the suite
// (tests/e2e/TestKit.h).
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/TestKit.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::string_view(argv[1]) == "--kit") {
    return velmor::e2e::kit::RunTestKit(std::vector<std::string>(argv + 2, argv + argc));
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
