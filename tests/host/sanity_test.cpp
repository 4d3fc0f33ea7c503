#include <gtest/gtest.h>

#include "app/CommandLine.h"

TEST(Sanity, Builds) { EXPECT_EQ(velmor::LowerAscii(L"AbC"), L"abc"); }
