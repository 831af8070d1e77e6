#pragma once
// The CRC-32 of the ZIP format (reflected polynomial 0xEDB88320, start 0xFFFFFFFF, final
// complement).
#include <cstddef>
#include <cstdint>

namespace connector {

std::uint32_t crc32(const std::uint8_t* data, std::size_t size);

}  // namespace connector
