#pragma once
// The text codecs of the HTTP interface: URL and form decoding, URL encoding, HTML escaping.
#include <string>
#include <string_view>

namespace connector {

// "+" -> space, %XX -> byte; throws std::runtime_error("URL 编码无效") on a bad escape.
std::string urlDecode(std::string_view text);
// First parameter called name in a query string or form body, decoded; "" when absent.
std::string formValue(std::string_view text, std::string_view name);
// RFC 3986 unreserved bytes kept, everything else %XX with upper-case hex.
std::string urlEncode(std::string_view bytes);
std::string htmlEscape(std::string_view text);

}  // namespace connector
