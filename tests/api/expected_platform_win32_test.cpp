#include "expected_platform.hpp"

namespace connector::test {

std::string expectedPlatform() { return "win32"; }

}  // namespace connector::test
