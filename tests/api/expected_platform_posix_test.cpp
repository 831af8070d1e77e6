#include "expected_platform.hpp"

namespace connector::test {

std::string expectedPlatform() { return "linux"; }

}  // namespace connector::test
