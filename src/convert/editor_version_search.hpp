#pragma once
// The search for the editor's version in Spine's output: the first "Starting:", white space,
// "Spine", white space and a run of digits and dots, with the letters in any case. Matched by
// hand, in linear time and constant stack: the standard library's regular expressions recurse
// once per character of each run.
#include <optional>
#include <string_view>

namespace connector {

// The run of digits and dots of the first such line; nothing when the output has none.
std::optional<std::string_view> findStartingLineVersion(std::string_view output);

}  // namespace connector
