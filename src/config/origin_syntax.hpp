#pragma once
// The syntax of a browser origin as a whole text: "http" or "https", "://", a host that is either
// hexadecimal digits, colons and dots in brackets or a name of ASCII letters, digits, dots and
// hyphens, then optionally a colon and one to five digits. Matched by hand, in one pass and
// constant stack, so it holds for any length: the standard library's regular expressions recurse
// once per character of the host.
#include <string_view>

namespace connector {

bool matchesOriginSyntax(std::string_view text);

}  // namespace connector
