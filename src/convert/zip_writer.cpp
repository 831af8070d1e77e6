#include "convert/zip_writer.hpp"

#include <array>
#include <limits>
#include <stdexcept>

#include "convert/local_time.hpp"

namespace connector {
namespace {

constexpr std::size_t kMaxEntries = 65'535;
constexpr std::size_t kMaxNameLength = 65'535;
constexpr std::uint64_t kMaxStoreValue = 0xFFFF'FFFFull;

constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr std::uint32_t kEndRecordSignature = 0x06054B50;
constexpr std::uint16_t kVersion = 20;
constexpr std::uint16_t kUtf8NamesFlag = 0x0800;
constexpr std::uint16_t kMethodStore = 0;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;

constexpr const char* kTooManyEntries = "ZIP 文件数量过多";
constexpr const char* kBadName = "ZIP 文件路径无效";
constexpr const char* kTooLarge = "ZIP 文件超过 Store 格式限制";

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void putBytes(std::vector<std::uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

struct KeptEntry {
  std::string name;
  std::uint32_t crc;
  std::uint32_t size;
  std::uint32_t offset;
};

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

std::string normalizeEntryName(std::string_view name) {
  std::string result(name);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  std::size_t start = 0;
  while (result.size() - start >= 2 && result.compare(start, 2, "./") == 0) start += 2;
  result.erase(0, start);
  if (result.empty() || result.front() == '/' || result == ".." || result.starts_with("../") ||
      result.find("/../") != std::string::npos) {
    throw std::runtime_error(kBadName);
  }
  return result;
}

std::vector<std::uint8_t> StoreZipWriter::write(const std::vector<ArchiveEntry>& entries) {
  if (entries.size() > kMaxEntries) throw std::runtime_error(kTooManyEntries);
  const DosTimestamp stamp = dosTimestamp(currentLocalTime());

  // One allocation for the whole archive: names shrink at most when normalised.
  std::size_t total = kEndRecordSize;
  for (const ArchiveEntry& entry : entries) {
    total += kLocalHeaderSize + kCentralHeaderSize + 2 * entry.name.size() + entry.data.size();
  }
  std::vector<std::uint8_t> archive;
  archive.reserve(total);

  std::vector<KeptEntry> kept;
  kept.reserve(entries.size());
  for (const ArchiveEntry& entry : entries) {
    std::string name = normalizeEntryName(entry.name);
    if (name.size() > kMaxNameLength || entry.data.size() > kMaxStoreValue ||
        archive.size() > kMaxStoreValue) {
      throw std::runtime_error(kTooLarge);
    }
    const std::uint32_t crc = crc32(entry.data.data(), entry.data.size());
    const auto size = static_cast<std::uint32_t>(entry.data.size());
    const auto offset = static_cast<std::uint32_t>(archive.size());

    put32(archive, kLocalHeaderSignature);
    put16(archive, kVersion);
    put16(archive, kUtf8NamesFlag);
    put16(archive, kMethodStore);
    put16(archive, stamp.time);
    put16(archive, stamp.date);
    put32(archive, crc);
    put32(archive, size);
    put32(archive, size);
    put16(archive, static_cast<std::uint16_t>(name.size()));
    put16(archive, 0);
    putBytes(archive, name);
    archive.insert(archive.end(), entry.data.begin(), entry.data.end());
    kept.push_back(KeptEntry{std::move(name), crc, size, offset});
  }

  const std::size_t directoryOffset = archive.size();
  for (const KeptEntry& entry : kept) {
    put32(archive, kCentralHeaderSignature);
    put16(archive, kVersion);
    put16(archive, kVersion);
    put16(archive, kUtf8NamesFlag);
    put16(archive, kMethodStore);
    put16(archive, stamp.time);
    put16(archive, stamp.date);
    put32(archive, entry.crc);
    put32(archive, entry.size);
    put32(archive, entry.size);
    put16(archive, static_cast<std::uint16_t>(entry.name.size()));
    put16(archive, 0);  // extra field length
    put16(archive, 0);  // comment length
    put16(archive, 0);  // disk number start
    put16(archive, 0);  // internal attributes
    put32(archive, 0);  // external attributes
    put32(archive, entry.offset);
    putBytes(archive, entry.name);
  }
  const std::size_t directorySize = archive.size() - directoryOffset;
  // The end record holds both as 32-bit values; past that the archive would point at the wrong place.
  if (directoryOffset > kMaxStoreValue || directorySize > kMaxStoreValue) {
    throw std::runtime_error(kTooLarge);
  }

  put32(archive, kEndRecordSignature);
  put16(archive, 0);
  put16(archive, 0);
  put16(archive, static_cast<std::uint16_t>(kept.size()));
  put16(archive, static_cast<std::uint16_t>(kept.size()));
  put32(archive, static_cast<std::uint32_t>(directorySize));
  put32(archive, static_cast<std::uint32_t>(directoryOffset));
  put16(archive, 0);
  return archive;
}

}  // namespace connector
