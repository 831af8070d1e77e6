#pragma once
// In-memory ZIP archive, Store method only, UTF-8 names, one timestamp for every entry.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace connector {

struct ArchiveEntry {
  std::string name;
  std::vector<std::uint8_t> data;
};

class StoreZipWriter {
 public:
  static std::vector<std::uint8_t> write(const std::vector<ArchiveEntry>& entries);
};

// Backslashes to "/", leading "./" dropped; empty, absolute or climbing names throw "ZIP 文件路径无效".
std::string normalizeEntryName(std::string_view name);
std::uint32_t crc32(const std::uint8_t* data, std::size_t size);

}  // namespace connector
