#pragma once
#include <string>

namespace connector::test {

// The "platform" name the health report must carry in this build.
std::string expectedPlatform();

}  // namespace connector::test
