#pragma once
// A whole archive from a list of files, through the product's builder, for tests and fuzzing.
#include <cstdint>
#include <string>
#include <vector>

namespace connector {

struct ArchiveEntry {
  std::string name;
  std::vector<std::uint8_t> data;
};

class StoreZipWriter {
 public:
  // The archive of the entries in order; throws what the builder throws.
  static std::string write(const std::vector<ArchiveEntry>& entries);
};

}  // namespace connector
