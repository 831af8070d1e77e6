#pragma once
// The supported Spine versions as a whole text: "3.8", "4.0" to "4.3", each optionally followed by
// a dot and one or more decimal digits. Matched by hand, in one pass and constant stack: the
// standard library's regular expressions recurse once per digit.
#include <optional>
#include <string_view>

namespace connector {

// The major.minor at the front of text when the whole text is such a version; nothing otherwise.
std::optional<std::string_view> matchSpineVersion(std::string_view text);

}  // namespace connector
