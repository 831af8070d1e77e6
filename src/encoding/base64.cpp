#include "encoding/base64.hpp"

#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

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

// Two characters at a time: kBase64Pairs[first | second << 8] holds their twelve bits (the
// first's six above), or kBadPair when either is outside the alphabet. Of its 128 KiB, the pairs
// of the alphabet touch about 20 KiB.
constexpr std::uint16_t kBadPair = 0x8000u;

constexpr std::array<std::uint16_t, 65536> makeBase64Pairs() {
  std::array<std::uint16_t, 65536> table{};
  for (std::size_t index = 0; index < table.size(); ++index) {
    const std::uint32_t first = kBase64At3[index & 0xFF];
    const std::uint32_t second = kBase64At3[index >> 8];
    table[index] =
        ((first | second) & kBad) != 0 ? kBadPair : static_cast<std::uint16_t>(first << 6 | second);
  }
  return table;
}

// Filled when the program starts: too many steps for every compiler's constant evaluation.
const std::array<std::uint16_t, 65536> kBase64Pairs = makeBase64Pairs();

std::uint64_t pairBits(const unsigned char* in) {
  return kBase64Pairs[static_cast<std::size_t>(in[0]) | static_cast<std::size_t>(in[1]) << 8];
}

// The eight bytes of bits, most significant first, in one store (the swap is one instruction).
void putWord(std::uint8_t* out, std::uint64_t bits) {
  if constexpr (std::endian::native == std::endian::little) {
    bits = (bits >> 56) | (bits >> 40 & 0xFF00u) | (bits >> 24 & 0xFF0000u) |
           (bits >> 8 & 0xFF000000u) | (bits << 8 & 0xFF00000000u) |
           (bits << 24 & 0xFF0000000000u) | (bits << 40 & 0xFF000000000000u) | (bits << 56);
  }
  std::memcpy(out, &bits, sizeof bits);
}

void putGroup(std::uint8_t* out, std::uint32_t bits) {
  out[0] = static_cast<std::uint8_t>(bits >> 16);
  out[1] = static_cast<std::uint8_t>(bits >> 8);
  out[2] = static_cast<std::uint8_t>(bits);
}

[[noreturn]] void failBase64() { throw std::runtime_error("图片数据格式无效"); }

// Length of the text without its trailing padding; fails unless the text is whole groups.
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
  // Eight characters make six bytes, written as one word of eight: the two bytes too many are
  // overwritten by the next step, so a further group must follow.
  for (; groupsEnd - in >= 12; in += 8, out += 6) {
    const std::uint64_t a = pairBits(in);
    const std::uint64_t b = pairBits(in + 2);
    const std::uint64_t c = pairBits(in + 4);
    const std::uint64_t d = pairBits(in + 6);
    if (((a | b | c | d) & kBadPair) != 0) failBase64();
    putWord(out, a << 52 | b << 40 | c << 28 | d << 16);
  }
  for (; in != groupsEnd; in += 4, out += 3) {
    const std::uint32_t bits = groupBits(in);
    if ((bits & kBad) != 0) failBase64();
    putGroup(out, bits);
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

}  // namespace connector
