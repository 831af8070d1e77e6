#include "support/base64_reference.hpp"

#include "encoding/base64.hpp"

namespace connector {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string encodeBase64(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t bits =
        (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
    text += kBase64Alphabet[bits >> 18];
    text += kBase64Alphabet[(bits >> 12) & 0x3F];
    text += kBase64Alphabet[(bits >> 6) & 0x3F];
    text += kBase64Alphabet[bits & 0x3F];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t bits = std::uint32_t{in[i]} << 16;
    if (rest == 2) bits |= std::uint32_t{in[i + 1]} << 8;
    text += kBase64Alphabet[bits >> 18];
    text += kBase64Alphabet[(bits >> 12) & 0x3F];
    text += rest == 2 ? kBase64Alphabet[(bits >> 6) & 0x3F] : '=';
    text += '=';
  }
  return text;
}

std::vector<std::uint8_t> decodeBase64(std::string_view text) {
  std::vector<std::uint8_t> bytes(base64DecodedSize(text));
  decodeBase64Into(text, bytes.data());
  return bytes;
}

}  // namespace connector
