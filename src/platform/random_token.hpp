#pragma once
#include <string>

namespace connector {

// 48 lower-case hex digits from the OS random source.
std::string randomHexToken();

}  // namespace connector
