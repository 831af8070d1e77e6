#pragma once
// In-memory ZIP archive, Store method only, UTF-8 names, one timestamp for every entry.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/crc32.hpp"
#include "platform/byte_buffer.hpp"

namespace connector {

// Builds an archive in the one buffer that becomes the reply body, each entry's data written once,
// straight into its place. The conversion has its images before Spine writes the project file
// that leads the archive, so the entries after the first are added first and the leading one is
// given to finish, which moves the others up behind it inside the same buffer. Every check of the
// format (count, names, sizes) happens in finish, in entry order, as if all entries came at once.
class StoreZipBuilder {
 public:
  // Capacity for the whole archive at once, so that adding entries never moves the bytes already
  // added and finish needs no new buffer; capacity that is never written costs address space only.
  void reserve(std::size_t bytes);
  // Appends an entry of size bytes that fill writes into the memory it is given. If fill throws,
  // the entry is taken back and the error passed on.
  void addEntry(std::string_view name, std::size_t size,
                const std::function<void(std::uint8_t*)>& fill);
  // The same in two halves, so that several threads can fill entries at once: an entry's place is
  // fixed by the sizes of those before it, so once every entry is laid out no byte moves, and each
  // fill writes only its own entry. Layout returns the entry's index. A failed fill leaves its
  // entry unfilled, and an archive with an unfilled entry is never finished.
  std::size_t layoutEntry(std::string_view name, std::size_t size);
  void fillEntry(std::size_t index, const std::function<void(std::uint8_t*)>& fill);
  std::size_t entryCount() const noexcept { return entries_.size(); }
  const std::string& entryName(std::size_t index) const { return entries_.at(index).name; }
  std::string_view entryData(std::size_t index) const;
  // The finished archive with the given entry first; the builder is left empty.
  ByteBuffer finish(std::string_view firstName, std::string_view firstData);
  // The finished archive of the added entries alone.
  ByteBuffer finish();

 private:
  struct Entry {
    std::string name;    // as given
    std::string stored;  // normalised, or the given name when it is not acceptable
    bool nameAccepted = false;
    std::uint32_t crc = 0;
    std::size_t size = 0;
    std::size_t headerAt = 0;  // local header offset counted from the first added entry
    bool filled = false;
  };
  ByteBuffer build(const std::string* leadingName, std::string_view leadingData);

  ByteBuffer bytes_;  // local headers, names and data of the added entries
  std::vector<Entry> entries_;
};

// Backslashes to "/", leading "./" dropped; empty, absolute or climbing names throw "ZIP
// 文件路径无效".
std::string normalizeEntryName(std::string_view name);

}  // namespace connector
