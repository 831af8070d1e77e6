#include "convert/crc32.hpp"

#include <array>

namespace connector {
namespace {

// Slicing by 16: table k gives the CRC of a byte followed by k zero bytes, so sixteen input bytes
// are folded in with sixteen independent look-ups instead of a chain of sixteen dependent ones.
constexpr std::size_t kSlices = 16;
using CrcTables = std::array<std::array<std::uint32_t, 256>, kSlices>;

constexpr CrcTables makeCrcTables() {
  CrcTables tables{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    tables[0][n] = c;
  }
  for (std::size_t k = 1; k < kSlices; ++k) {
    for (std::size_t n = 0; n < 256; ++n) {
      const std::uint32_t previous = tables[k - 1][n];
      tables[k][n] = tables[0][previous & 0xFFu] ^ (previous >> 8);
    }
  }
  return tables;
}

constexpr CrcTables kTables = makeCrcTables();

// Byte order stays explicit, so the same code is right on any processor; compilers merge it into
// one load where the processor is little-endian.
std::uint32_t load32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
  const auto& t = kTables;
  std::uint32_t crc = 0xFFFFFFFFu;
  for (; size >= kSlices; size -= kSlices, data += kSlices) {
    const std::uint32_t a = load32(data) ^ crc;
    const std::uint32_t b = load32(data + 4);
    const std::uint32_t c = load32(data + 8);
    const std::uint32_t d = load32(data + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
  }
  for (; size > 0; --size, ++data) crc = t[0][(crc ^ *data) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

}  // namespace connector
