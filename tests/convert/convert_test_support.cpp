#include "convert_test_support.hpp"

#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>

#include "encoding/codecs.hpp"
#include "platform/text.hpp"

namespace connector::test {

PrivateTemp::PrivateTemp() {
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) environment_.set(name, pathToUtf8(folder_.path()));
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

}  // namespace

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
