#pragma once
// Small byte-string codecs for the HTTP interface and the conversion request.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace connector {

// Standard-alphabet Base64; throws std::runtime_error("图片数据格式无效").
std::vector<std::uint8_t> decodeBase64(std::string_view text);
// The two halves of decodeBase64 for callers that own the output memory: the decoded size
// (fails only on a length that is not whole groups), then the decoding into that many bytes.
std::size_t base64DecodedSize(std::string_view text);
void decodeBase64Into(std::string_view text, std::uint8_t* out);
// Fails exactly when decodeBase64 would, without writing the bytes anywhere.
void checkBase64(std::string_view text);
// Test and tool helper: standard Base64 with padding.
std::string encodeBase64(std::string_view bytes);
// "+" -> space, %XX -> byte; throws std::runtime_error("URL 编码无效") on a bad escape.
std::string urlDecode(std::string_view text);
// First parameter called name in a query string or form body, decoded; "" when absent.
std::string formValue(std::string_view text, std::string_view name);
// RFC 3986 unreserved bytes kept, everything else %XX with upper-case hex.
std::string urlEncode(std::string_view bytes);
std::string htmlEscape(std::string_view text);
// 48 lower-case hex digits from the OS random source.
std::string randomHexToken();

}  // namespace connector
