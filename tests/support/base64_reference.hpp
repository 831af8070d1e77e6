#pragma once
// Base64 in the shapes tests want: text from bytes, and bytes from text through the product's
// decoder.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace connector {

// Standard Base64 with padding.
std::string encodeBase64(std::string_view bytes);
// The product's decoding into a fresh vector; throws as it does.
std::vector<std::uint8_t> decodeBase64(std::string_view text);

}  // namespace connector
