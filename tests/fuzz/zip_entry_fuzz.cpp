// ZIP entry names and the Store writer on arbitrary names and data: an accepted name never climbs
// out of the folder the archive is unpacked into, and the archive reads back to the entries.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "convert/store_zip_builder.hpp"
#include "fuzz_support.hpp"
#include "support/store_zip_writer.hpp"

using namespace connector;

namespace {

// Element depth below the unpacking folder never drops under zero.
bool staysInside(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string_view::npos)
    return false;
  long depth = 0;
  while (true) {
    const std::size_t slash = name.find('/');
    const std::string_view element = name.substr(0, slash);
    if (element == "..") {
      if (--depth < 0) return false;
    } else if (!element.empty() && element != ".") {
      ++depth;
    }
    if (slash == std::string_view::npos) return true;
    name.remove_prefix(slash + 1);
  }
}

std::uint32_t read16(std::string_view bytes, std::size_t at) {
  fuzz::check(at + 2 <= bytes.size(), "archive field inside the archive");
  return static_cast<std::uint8_t>(bytes[at]) |
         (std::uint32_t{static_cast<std::uint8_t>(bytes[at + 1])} << 8);
}

std::uint32_t read32(std::string_view bytes, std::size_t at) {
  return read16(bytes, at) | (read16(bytes, at + 2) << 16);
}

std::string readText(std::string_view bytes, std::size_t at, std::size_t size) {
  fuzz::check(at + size <= bytes.size(), "archive text inside the archive");
  return std::string(bytes.substr(at, size));
}

// Walks the end record and the central directory to each local header, and compares every name
// and every byte of data with what was written.
void checkArchive(std::string_view archive, const std::vector<ArchiveEntry>& entries) {
  fuzz::check(archive.size() >= 22, "the archive holds an end record");
  const std::size_t end = archive.size() - 22;
  fuzz::check(read32(archive, end) == 0x06054b50, "end record signature");
  fuzz::check(read16(archive, end + 10) == entries.size(), "entry count");
  std::size_t central = read32(archive, end + 16);
  fuzz::check(central + read32(archive, end + 12) == end,
              "central directory ends at the end record");
  for (const ArchiveEntry& entry : entries) {
    const std::string name = normalizeEntryName(entry.name);
    fuzz::check(read32(archive, central) == 0x02014b50, "central header signature");
    const std::uint32_t crc = read32(archive, central + 16);
    fuzz::check(crc == crc32(entry.data.data(), entry.data.size()), "central CRC");
    const std::size_t nameSize = read16(archive, central + 28);
    fuzz::check(readText(archive, central + 46, nameSize) == name, "central name", name);
    const std::size_t local = read32(archive, central + 42);
    fuzz::check(read32(archive, local) == 0x04034b50, "local header signature");
    fuzz::check(read32(archive, local + 14) == crc, "local CRC");
    fuzz::check(readText(archive, local + 30, read16(archive, local + 26)) == name, "local name",
                name);
    const std::size_t dataSize = read32(archive, local + 22);
    const std::string data =
        readText(archive, local + 30 + nameSize + read16(archive, local + 28), dataSize);
    fuzz::check(data == std::string(entry.data.begin(), entry.data.end()), "stored data", name);
    central += 46 + nameSize;
  }
  fuzz::check(central == end, "central directory holds exactly the entries");
}

void testOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<ArchiveEntry> accepted;
  const int count = input.ConsumeIntegralInRange(1, 8);
  for (int i = 0; i < count && input.remaining_bytes() > 0; ++i) {
    std::string name = input.ConsumeRandomLengthString(256);
    const std::string bytes = input.ConsumeRandomLengthString(256);
    try {
      const std::string normalized = normalizeEntryName(name);
      fuzz::check(staysInside(normalized), "an accepted entry name stays inside", normalized);
      accepted.push_back(
          ArchiveEntry{std::move(name), std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
    } catch (const std::runtime_error& error) {
      fuzz::check(std::string_view(error.what()) == "ZIP 文件路径无效",
                  "the one name failure message", error.what());
    }
  }
  checkArchive(StoreZipWriter::write(accepted), accepted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::onSmallStack([&] { testOneInput(data, size); });
  return 0;
}
