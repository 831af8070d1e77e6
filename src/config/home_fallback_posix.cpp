#include "config/home_fallback.hpp"

#include "platform/environment.hpp"

namespace connector {

std::string homeFallback() { return readEnvironmentStrict("HOME"); }

}  // namespace connector
