// A check that holds in every build: a fuzz target reports a broken rule by crashing.
#pragma once

#include <cstdlib>

namespace velmor::fuzz {

inline void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace velmor::fuzz
