#include "encoding/codecs.hpp"

#include <array>
#include <random>
#include <stdexcept>

#include "encoding/ascii.hpp"

namespace connector {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// One table per position in a group of four, each holding the character's six bits already
// shifted into place within the group's 24 bits; a character outside the alphabet sets bit 31.
constexpr std::uint32_t kBad = 0x8000'0000u;

constexpr std::array<std::uint32_t, 256> makeBase64Table(int shift) {
  std::array<std::uint32_t, 256> table{};
  table.fill(kBad);
  for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i) {
    table[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::uint32_t>(i) << shift;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kBase64At0 = makeBase64Table(18);
constexpr std::array<std::uint32_t, 256> kBase64At1 = makeBase64Table(12);
constexpr std::array<std::uint32_t, 256> kBase64At2 = makeBase64Table(6);
constexpr std::array<std::uint32_t, 256> kBase64At3 = makeBase64Table(0);

std::uint32_t groupBits(const unsigned char* in) {
  return kBase64At0[in[0]] | kBase64At1[in[1]] | kBase64At2[in[2]] | kBase64At3[in[3]];
}

void putGroup(std::uint8_t* out, std::uint32_t bits) {
  out[0] = static_cast<std::uint8_t>(bits >> 16);
  out[1] = static_cast<std::uint8_t>(bits >> 8);
  out[2] = static_cast<std::uint8_t>(bits);
}

// Length of the text without its trailing padding; fails unless the text is whole groups.
std::size_t base64DataLength(std::string_view text);

[[noreturn]] void failBase64() {
  throw std::runtime_error("图片数据格式无效");
}

[[noreturn]] void failUrl() {
  throw std::runtime_error("URL 编码无效");
}

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

namespace {

std::size_t base64DataLength(std::string_view text) {
  if (text.size() % 4 != 0) failBase64();
  // Padding may only end the text, and any amount of it is accepted; the data before it is
  // decoded as whole groups plus a tail whose leftover bits are dropped.
  std::size_t dataLength = text.size();
  while (dataLength > 0 && text[dataLength - 1] == '=') --dataLength;
  return dataLength;
}

}  // namespace

std::size_t base64DecodedSize(std::string_view text) {
  const std::size_t dataLength = base64DataLength(text);
  return dataLength / 4 * 3 + (dataLength % 4 * 6) / 8;
}

void decodeBase64Into(std::string_view text, std::uint8_t* out) {
  const std::size_t dataLength = base64DataLength(text);
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const groupsEnd = in + dataLength / 4 * 4;
  // Eight characters per step with one validity test for both groups.
  for (; groupsEnd - in >= 8; in += 8, out += 6) {
    const std::uint32_t first = groupBits(in);
    const std::uint32_t second = groupBits(in + 4);
    if (((first | second) & kBad) != 0) failBase64();
    putGroup(out, first);
    putGroup(out + 3, second);
  }
  if (in != groupsEnd) {
    const std::uint32_t bits = groupBits(in);
    if ((bits & kBad) != 0) failBase64();
    putGroup(out, bits);
    in += 4;
    out += 3;
  }
  const std::size_t tail = dataLength % 4;
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < tail; ++i) {
    const std::uint32_t value = kBase64At3[in[i]];
    if ((value & kBad) != 0) failBase64();
    bits = (bits << 6) | value;
  }
  if (tail == 2) {
    out[0] = static_cast<std::uint8_t>(bits >> 4);
  } else if (tail == 3) {
    out[0] = static_cast<std::uint8_t>(bits >> 10);
    out[1] = static_cast<std::uint8_t>(bits >> 2);
  }
}

void checkBase64(std::string_view text) {
  const std::size_t dataLength = base64DataLength(text);
  for (const char c : text.substr(0, dataLength)) {
    if ((kBase64At3[static_cast<unsigned char>(c)] & kBad) != 0) failBase64();
  }
}

std::vector<std::uint8_t> decodeBase64(std::string_view text) {
  std::vector<std::uint8_t> bytes(base64DecodedSize(text));
  decodeBase64Into(text, bytes.data());
  return bytes;
}

std::string encodeBase64(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t bits = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
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

std::string urlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size()) {
      const int high = hexDigitValue(text[i + 1]);
      const int low = hexDigitValue(text[i + 2]);
      if (high < 0 || low < 0) failUrl();
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += c;  // also a "%" too close to the end to start an escape
    }
  }
  return out;
}

std::string formValue(std::string_view text, std::string_view name) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('&', start);
    const std::string_view segment = text.substr(start, end == std::string_view::npos ? text.npos : end - start);
    const std::size_t equals = segment.find('=');
    const std::string_view rawName = segment.substr(0, equals);
    if (urlDecode(rawName) == name) {
      return equals == std::string_view::npos ? std::string() : urlDecode(segment.substr(equals + 1));
    }
    if (end == std::string_view::npos) return std::string();
    start = end + 1;
  }
}

std::string urlEncode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (isUnreserved(byte)) {
      out += c;
    } else {
      out += '%';
      out += kUpperHexDigits[byte >> 4];
      out += kUpperHexDigits[byte & 0x0F];
    }
  }
  return out;
}

std::string htmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c; break;
    }
  }
  return out;
}

std::string randomHexToken() {
  std::random_device source;
  std::string token;
  token.reserve(48);
  for (int i = 0; i < 48; ++i) {
    token += kLowerHexDigits[source() & 0x0F];  // one fresh draw per digit: 4 random bits each
  }
  return token;
}

}  // namespace connector
