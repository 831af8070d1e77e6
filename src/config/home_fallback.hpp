#pragma once
#include <string>

namespace connector {

// The OS's own idea of the home folder when the Windows-style variables are unset: HOME on
// POSIX, where USERPROFILE is normally absent; nothing on Windows. UTF-8, "" when unknown.
std::string homeFallback();

}  // namespace connector
