#pragma once
// Standard-alphabet Base64 decoding of the conversion's images, into memory the caller owns.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace connector {

// The decoded size; throws std::runtime_error("图片数据格式无效") on a length that is not whole
// groups.
std::size_t base64DecodedSize(std::string_view text);
// Decodes into base64DecodedSize(text) bytes at out; throws "图片数据格式无效" on bad data.
void decodeBase64Into(std::string_view text, std::uint8_t* out);
// Fails exactly when decoding would, without writing the bytes anywhere.
void checkBase64(std::string_view text);

}  // namespace connector
