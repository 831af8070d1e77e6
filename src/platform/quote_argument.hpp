#pragma once
// The Windows command line of a child, built so that its C runtime hands back the same arguments.
#include <string>
#include <string_view>
#include <vector>

namespace connector {

// One Windows command-line token that the C runtime's argv parsing turns back into text.
std::wstring quoteArgument(std::string_view utf8);
// The quoted executable, then one space and one quoted token per argument.
std::wstring buildCommandLine(std::string_view executable,
                              const std::vector<std::string>& arguments);

}  // namespace connector
