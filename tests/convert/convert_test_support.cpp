#include "convert_test_support.hpp"

#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>

#include "convert/store_zip_builder.hpp"

#include "platform/text.hpp"
#include "support/base64_reference.hpp"

namespace connector::test {

PrivateTemp::PrivateTemp() {
  for (const char* name : {"TMPDIR", "TMP", "TEMP"})
    environment_.set(name, pathToUtf8(folder_.path()));
}

std::vector<std::string> PrivateTemp::leftovers() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
    names.push_back(pathToUtf8(entry.path().filename()));
  }
  return names;
}

std::string skeletonText(const std::string& spine, std::optional<std::string> images) {
  JsonValue document;
  document["skeleton"]["spine"] = spine;
  if (images) document["skeleton"]["images"] = *images;
  JsonValue bone;
  bone["name"] = "root";
  document["bones"] = JsonArray{bone};
  return toJsonText(document, 0);
}

JsonValue requestBody(const std::string& skeleton, const std::string& projectName,
                      const std::vector<RequestImage>& images) {
  JsonValue body;
  body["schemaVersion"] = 1;
  body["skeletonJson"] = skeleton;
  body["projectName"] = projectName;
  JsonArray list;
  for (const RequestImage& image : images) {
    JsonValue element;
    element["path"] = image.path;
    element["dataBase64"] = encodeBase64(image.bytes);
    list.push_back(std::move(element));
  }
  body["images"] = std::move(list);
  return body;
}

std::string errorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "(no error)";
}

namespace {

std::uint32_t read16(std::string_view data, std::size_t at) {
  if (at + 2 > data.size()) throw std::runtime_error("ZIP field past the end");
  return static_cast<std::uint32_t>(static_cast<unsigned char>(data[at]) |
                                    (static_cast<unsigned char>(data[at + 1]) << 8));
}

std::uint32_t read32(std::string_view data, std::size_t at) {
  return read16(data, at) | (read16(data, at + 2) << 16);
}

std::string slice(std::string_view data, std::size_t at, std::size_t length) {
  if (at + length > data.size()) throw std::runtime_error("ZIP bytes past the end");
  return std::string(data.substr(at, length));
}

void put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

}  // namespace

// The byte-wise table method: one look-up, shift and exclusive-or per byte.
std::uint32_t referenceCrc32(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::uint32_t> table = [] {
    std::vector<std::uint32_t> t(256);
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

// The plain writer: every entry appended in one pass, then the directory and the end record.
// It takes the timestamp so that archives can be compared byte for byte.
std::string referenceArchive(const std::vector<ArchiveEntry>& entries, std::uint32_t time,
                             std::uint32_t date) {
  if (entries.size() > 65'535) throw std::runtime_error("ZIP 文件数量过多");
  std::string archive;
  struct Kept {
    std::string name;
    std::uint32_t crc, size, offset;
  };
  std::vector<Kept> kept;
  for (const ArchiveEntry& entry : entries) {
    const std::string name = normalizeEntryName(entry.name);
    if (name.size() > 65'535 || entry.data.size() > 0xFFFFFFFFu || archive.size() > 0xFFFFFFFFu) {
      throw std::runtime_error("ZIP 文件超过 Store 格式限制");
    }
    const Kept k{name, referenceCrc32(entry.data.data(), entry.data.size()),
                 static_cast<std::uint32_t>(entry.data.size()),
                 static_cast<std::uint32_t>(archive.size())};
    put32(archive, 0x04034B50);
    for (const std::uint32_t field : {20u, 0x0800u, 0u, time, date}) put16(archive, field);
    put32(archive, k.crc);
    put32(archive, k.size);
    put32(archive, k.size);
    put16(archive, static_cast<std::uint32_t>(name.size()));
    put16(archive, 0);
    archive += name;
    archive.append(entry.data.begin(), entry.data.end());
    kept.push_back(k);
  }
  const std::size_t directory = archive.size();
  for (const Kept& k : kept) {
    put32(archive, 0x02014B50);
    for (const std::uint32_t field : {20u, 20u, 0x0800u, 0u, time, date}) {
      put16(archive, field);
    }
    put32(archive, k.crc);
    put32(archive, k.size);
    put32(archive, k.size);
    put16(archive, static_cast<std::uint32_t>(k.name.size()));
    for (int i = 0; i < 4; ++i) put16(archive, 0);
    put32(archive, 0);
    put32(archive, k.offset);
    archive += k.name;
  }
  const std::size_t directorySize = archive.size() - directory;
  put32(archive, 0x06054B50);
  put16(archive, 0);
  put16(archive, 0);
  put16(archive, static_cast<std::uint32_t>(kept.size()));
  put16(archive, static_cast<std::uint32_t>(kept.size()));
  put32(archive, static_cast<std::uint32_t>(directorySize));
  put32(archive, static_cast<std::uint32_t>(directory));
  put16(archive, 0);
  return archive;
}

// The reference archive with the timestamp the written one carries (the clock may tick between).
std::string referenceLike(const std::string& written, const std::vector<ArchiveEntry>& entries) {
  const bool stamped = written.size() > 22;
  return referenceArchive(entries, stamped ? read16(written, 10) : 0,
                          stamped ? read16(written, 12) : 0);
}

std::vector<ZipFile> readZip(std::string_view archive) {
  std::vector<ZipFile> files;
  try {
    if (archive.size() < 22) throw std::runtime_error("no end record");
    const std::size_t end = archive.size() - 22;
    if (read32(archive, end) != 0x06054B50u) throw std::runtime_error("bad end record");
    const std::size_t count = read16(archive, end + 10);
    std::size_t at = read32(archive, end + 16);
    for (std::size_t i = 0; i < count; ++i) {
      if (read32(archive, at) != 0x02014B50u) throw std::runtime_error("bad central header");
      const std::size_t size = read32(archive, at + 24);
      const std::size_t nameLength = read16(archive, at + 28);
      const std::size_t local = read32(archive, at + 42);
      const std::string name = slice(archive, at + 46, nameLength);
      if (read32(archive, local) != 0x04034B50u) throw std::runtime_error("bad local header");
      if (slice(archive, local + 30, nameLength) != name) throw std::runtime_error("names differ");
      files.push_back(ZipFile{name, slice(archive, local + 30 + nameLength, size)});
      at += 46 + nameLength;
    }
  } catch (const std::exception& error) {
    ADD_FAILURE() << "malformed archive: " << error.what();
  }
  return files;
}

}  // namespace connector::test
