#pragma once
// The line of Spine's output that names the licensee: one that starts with "Licensed to:" in any
// letter case. The label decides alone, so a carriage return left inside the line does not let
// the name through. Matched by hand: the standard library's regular expressions recurse once per
// character of the line.
#include <string_view>

namespace connector {

bool isLicenceLine(std::string_view line);

}  // namespace connector
