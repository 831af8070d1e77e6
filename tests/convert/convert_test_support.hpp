#pragma once
// Helpers shared by the conversion tests: a private temporary folder, request bodies, a ZIP reader.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/store_zip_builder.hpp"
#include "encoding/json.hpp"
#include "support/store_zip_writer.hpp"
#include "support/test_helpers.hpp"

namespace connector::test {

// Points TMPDIR, TMP and TEMP at a fresh folder, so a test sees exactly what a conversion leaves.
class PrivateTemp {
 public:
  PrivateTemp();
  const std::filesystem::path& path() const { return folder_.path(); }
  // Names of everything directly inside the folder.
  std::vector<std::string> leftovers() const;

 private:
  TempDirectory folder_;
  ScopedEnvironment environment_;
};

struct RequestImage {
  std::string path;
  std::string bytes;
};

// {"skeleton":{"spine":<spine>[,"images":<images>]},"bones":[{"name":"root"}]} as compact text.
std::string skeletonText(const std::string& spine,
                         std::optional<std::string> images = std::nullopt);

// A valid conversion request body; tests then edit the members they are about.
JsonValue requestBody(const std::string& skeleton, const std::string& projectName = "Hero",
                      const std::vector<RequestImage>& images = {});

// The message of the std::exception thrown by action, or "(no error)".
std::string errorOf(const std::function<void()>& action);

struct ZipFile {
  std::string name;
  std::string data;
};
// The files of an archive, read through its central directory; fails the test on a malformed one.
std::vector<ZipFile> readZip(std::string_view archive);

// The byte-wise table method: one look-up, shift and exclusive-or per byte.
std::uint32_t referenceCrc32(const std::uint8_t* data, std::size_t size);
// The plain writer: every entry appended in one pass, then the directory and the end record, with
// the timestamp given so that archives can be compared byte for byte.
std::string referenceArchive(const std::vector<ArchiveEntry>& entries, std::uint32_t time,
                             std::uint32_t date);
// The reference archive with the timestamp the written one carries (the clock may tick between).
std::string referenceLike(const std::string& written, const std::vector<ArchiveEntry>& entries);

}  // namespace connector::test
