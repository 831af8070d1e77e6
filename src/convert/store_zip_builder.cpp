#include "convert/store_zip_builder.hpp"

#include <cstring>
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
constexpr std::size_t kLocalTimeAt = 10;  // time, then date, inside a local header

constexpr const char* kTooManyEntries = "ZIP 文件数量过多";
constexpr const char* kBadName = "ZIP 文件路径无效";
constexpr const char* kTooLarge = "ZIP 文件超过 Store 格式限制";

// Little-endian fields written at a position of a buffer that is already sized.
class FieldWriter {
 public:
  explicit FieldWriter(char* at) : at_(at) {}
  FieldWriter& u16(std::uint16_t value) {
    *at_++ = static_cast<char>(value & 0xFF);
    *at_++ = static_cast<char>(value >> 8);
    return *this;
  }
  FieldWriter& u32(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) *at_++ = static_cast<char>((value >> shift) & 0xFF);
    return *this;
  }
  FieldWriter& bytes(std::string_view text) {
    if (!text.empty()) std::memcpy(at_, text.data(), text.size());
    at_ += text.size();
    return *this;
  }
  char* position() const { return at_; }

 private:
  char* at_;
};

// The local header of the Store format; name lengths and sizes have been checked by the caller or
// the archive is never handed out.
void writeLocalHeader(FieldWriter& out, const DosTimestamp& stamp, std::uint32_t crc,
                      std::size_t size, std::string_view name) {
  out.u32(kLocalHeaderSignature).u16(kVersion).u16(kUtf8NamesFlag).u16(kMethodStore);
  out.u16(stamp.time).u16(stamp.date).u32(crc);
  out.u32(static_cast<std::uint32_t>(size)).u32(static_cast<std::uint32_t>(size));
  out.u16(static_cast<std::uint16_t>(name.size())).u16(0).bytes(name);
}

void writeCentralHeader(FieldWriter& out, const DosTimestamp& stamp, std::uint32_t crc,
                        std::size_t size, std::size_t offset, std::string_view name) {
  out.u32(kCentralHeaderSignature)
      .u16(kVersion)
      .u16(kVersion)
      .u16(kUtf8NamesFlag)
      .u16(kMethodStore);
  out.u16(stamp.time).u16(stamp.date).u32(crc);
  out.u32(static_cast<std::uint32_t>(size)).u32(static_cast<std::uint32_t>(size));
  out.u16(static_cast<std::uint16_t>(name.size()));
  out.u16(0).u16(0).u16(0).u16(0).u32(
      0);  // extra field, comment, disk, internal and external attributes
  out.u32(static_cast<std::uint32_t>(offset)).bytes(name);
}

// The normalised name, or false when the name is not acceptable.
bool normalizeName(std::string_view name, std::string& result) {
  std::size_t start = 0;
  // "./" is tested on the name with backslashes already turned into "/".
  while (name.size() - start >= 2 && name[start] == '.' &&
         (name[start + 1] == '/' || name[start + 1] == '\\')) {
    start += 2;
  }
  result.assign(name.substr(start));
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return !(result.empty() || result.front() == '/' || result == ".." || result.starts_with("../") ||
           result.find("/../") != std::string::npos);
}

}  // namespace

std::string normalizeEntryName(std::string_view name) {
  std::string result;
  if (!normalizeName(name, result)) throw std::runtime_error(kBadName);
  return result;
}

void StoreZipBuilder::reserve(std::size_t bytes) { bytes_.reserve(bytes); }

void StoreZipBuilder::addEntry(std::string_view name, std::size_t size,
                               const std::function<void(std::uint8_t*)>& fill) {
  const std::size_t index = layoutEntry(name, size);
  try {
    fillEntry(index, fill);
  } catch (...) {
    bytes_.truncate(entries_.back().headerAt);
    entries_.pop_back();
    throw;
  }
}

std::size_t StoreZipBuilder::layoutEntry(std::string_view name, std::size_t size) {
  Entry entry;
  entry.name = std::string(name);
  entry.nameAccepted = normalizeName(name, entry.stored);
  if (!entry.nameAccepted) entry.stored = entry.name;  // only holds the place: finish refuses it
  entry.size = size;
  entry.headerAt = bytes_.size();
  // Made writable but not written: whichever thread fills the entry takes its memory.
  bytes_.extend(kLocalHeaderSize + entry.stored.size() + size);
  entries_.push_back(std::move(entry));
  return entries_.size() - 1;
}

void StoreZipBuilder::fillEntry(std::size_t index, const std::function<void(std::uint8_t*)>& fill) {
  Entry& entry = entries_.at(index);
  char* header = bytes_.data() + entry.headerAt;
  auto* data = reinterpret_cast<std::uint8_t*>(header + kLocalHeaderSize + entry.stored.size());
  fill(data);
  // Right after the fill, while the bytes are still in the processor's caches.
  entry.crc = crc32(data, entry.size);
  FieldWriter out(header);
  writeLocalHeader(out, DosTimestamp{}, entry.crc, entry.size, entry.stored);  // stamped in finish
  entry.filled = true;
}

std::string_view StoreZipBuilder::entryData(std::size_t index) const {
  const Entry& entry = entries_.at(index);
  return bytes_.view().substr(entry.headerAt + kLocalHeaderSize + entry.stored.size(), entry.size);
}

ByteBuffer StoreZipBuilder::finish(std::string_view firstName, std::string_view firstData) {
  const std::string name(firstName);
  return build(&name, firstData);
}

ByteBuffer StoreZipBuilder::finish() { return build(nullptr, {}); }

ByteBuffer StoreZipBuilder::build(const std::string* leadingName, std::string_view leadingData) {
  const std::size_t count = entries_.size() + (leadingName != nullptr ? 1 : 0);
  if (count > kMaxEntries) throw std::runtime_error(kTooManyEntries);
  const DosTimestamp stamp = dosTimestamp(currentLocalTime());

  // Every check, in entry order, before any byte moves.
  std::string leading;
  std::size_t leadingSize = 0;
  if (leadingName != nullptr) {
    leading = normalizeEntryName(*leadingName);
    if (leading.size() > kMaxNameLength || leadingData.size() > kMaxStoreValue) {
      throw std::runtime_error(kTooLarge);
    }
    leadingSize = kLocalHeaderSize + leading.size() + leadingData.size();
  }
  std::size_t offset = leadingSize;
  std::size_t directorySize = leadingName != nullptr ? kCentralHeaderSize + leading.size() : 0;
  for (const Entry& entry : entries_) {
    if (!entry.filled) throw std::logic_error("ZIP entry laid out but never filled");
    if (!entry.nameAccepted) throw std::runtime_error(kBadName);
    if (entry.stored.size() > kMaxNameLength || entry.size > kMaxStoreValue ||
        offset > kMaxStoreValue) {
      throw std::runtime_error(kTooLarge);
    }
    offset += kLocalHeaderSize + entry.stored.size() + entry.size;
    directorySize += kCentralHeaderSize + entry.stored.size();
  }
  const std::size_t directoryOffset = offset;
  // The end record holds both as 32-bit values; past that the archive would point at the wrong
  // place.
  if (directoryOffset > kMaxStoreValue || directorySize > kMaxStoreValue) {
    throw std::runtime_error(kTooLarge);
  }

  const std::size_t added = bytes_.size();
  bytes_.extend(directoryOffset + directorySize + kEndRecordSize - added);
  char* base = bytes_.data();
  if (leadingSize > 0 && added > 0) std::memmove(base + leadingSize, base, added);
  std::uint32_t leadingCrc = 0;
  if (leadingName != nullptr) {
    leadingCrc =
        crc32(reinterpret_cast<const std::uint8_t*>(leadingData.data()), leadingData.size());
    FieldWriter out(base);
    writeLocalHeader(out, stamp, leadingCrc, leadingData.size(), leading);
    out.bytes(leadingData);
  }
  for (const Entry& entry : entries_) {
    FieldWriter(base + leadingSize + entry.headerAt + kLocalTimeAt).u16(stamp.time).u16(stamp.date);
  }

  FieldWriter out(base + directoryOffset);
  if (leadingName != nullptr)
    writeCentralHeader(out, stamp, leadingCrc, leadingData.size(), 0, leading);
  for (const Entry& entry : entries_) {
    writeCentralHeader(out, stamp, entry.crc, entry.size, leadingSize + entry.headerAt,
                       entry.stored);
  }
  out.u32(kEndRecordSignature).u16(0).u16(0);
  out.u16(static_cast<std::uint16_t>(count)).u16(static_cast<std::uint16_t>(count));
  out.u32(static_cast<std::uint32_t>(directorySize))
      .u32(static_cast<std::uint32_t>(directoryOffset))
      .u16(0);

  ByteBuffer archive = std::move(bytes_);  // leaves bytes_ empty
  entries_.clear();
  return archive;
}

}  // namespace connector
