#include "support/store_zip_writer.hpp"

#include <cstring>
#include <string_view>

#include "convert/store_zip_builder.hpp"

namespace connector {

std::string StoreZipWriter::write(const std::vector<ArchiveEntry>& entries) {
  constexpr std::size_t kHeaders = 30 + 46;
  std::size_t total = 22;
  for (const ArchiveEntry& entry : entries)
    total += kHeaders + 2 * entry.name.size() + entry.data.size();
  StoreZipBuilder builder;
  builder.reserve(total);
  const auto view = [](const std::vector<std::uint8_t>& data) {
    return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
  };
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const std::vector<std::uint8_t>& data = entries[i].data;
    builder.addEntry(entries[i].name, data.size(), [&](std::uint8_t* out) {
      if (!data.empty()) std::memcpy(out, data.data(), data.size());
    });
  }
  const ByteBuffer archive = entries.empty()
                                 ? builder.finish()
                                 : builder.finish(entries.front().name, view(entries.front().data));
  return std::string(archive.view());
}

}  // namespace connector
