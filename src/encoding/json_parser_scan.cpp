#include "encoding/json_parser_scan.hpp"

#include <cstdint>
#include <cstring>

namespace connector {
namespace {

// Sixteen bytes compared at once: SSE2 on x86-64, NEON on ARM, and on any other target the
// compiler's own lowering to whole words, so the code stays the same everywhere.
typedef unsigned char Lanes __attribute__((vector_size(16)));

bool isSpecial(unsigned char byte) { return byte == '"' || byte == '\\' || byte < 0x20; }

}  // namespace

std::size_t jsonPlainRunEnd(std::string_view text, std::size_t from) noexcept {
  const char* const data = text.data();
  const std::size_t size = text.size();
  // Thirty-two bytes per step with one test for both halves; the step that holds a special byte
  // leaves it to the byte loop below, which finds it within 32 bytes.
  while (size - from >= 32) {
    Lanes low;
    Lanes high;
    std::memcpy(&low, data + from, 16);
    std::memcpy(&high, data + from + 16, 16);
    const auto special = (low == '"') | (low == '\\') | (low < 0x20) | (high == '"') |
                         (high == '\\') | (high < 0x20);
    std::uint64_t halves[2];
    std::memcpy(halves, &special, sizeof halves);
    if ((halves[0] | halves[1]) != 0) break;
    from += 32;
  }
  while (from < size && !isSpecial(static_cast<unsigned char>(data[from]))) ++from;
  return from;
}

}  // namespace connector
