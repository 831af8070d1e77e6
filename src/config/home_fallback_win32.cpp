#include "config/home_fallback.hpp"

namespace connector {

// USERPROFILE and HOMEDRIVE/HOMEPATH are Windows' own answer; there is nothing further to ask.
std::string homeFallback() { return {}; }

}  // namespace connector
