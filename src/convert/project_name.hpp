#pragma once
#include <string>
#include <string_view>

namespace connector {

// A safe, never empty file-name stem for a project name.
std::string sanitizeProjectName(std::string_view text);

}  // namespace connector
