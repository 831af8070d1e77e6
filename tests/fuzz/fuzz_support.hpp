#pragma once
// Shared pieces of the libFuzzer targets: a byte source that hands the input out in chunks of
// varying size, a private temporary folder, and a check that stops the run with a message.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

#include "http/byte_stream.hpp"

namespace connector::fuzz {

// An invariant that failed: libFuzzer keeps the input as a crash reproducer.
[[noreturn]] inline void violated(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "invariant violated: %s [%.*s]\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

inline void check(bool condition, const char* what, std::string_view detail = {}) {
  if (!condition) violated(what, detail);
}

// Receives that return pseudo-random chunk sizes chosen by a seed byte: 0 hands out as much as
// the caller asks for, anything else gives 1 .. 1 + seed * 32 bytes per call, so the parser sees
// a request split at every kind of boundary.
class ChunkedSource : public ByteSource {
 public:
  ChunkedSource(std::string_view bytes, std::uint8_t seed)
      : bytes_(bytes), seed_(seed), state_(seed) {}

  long receive(char* buffer, std::size_t size) override {
    if (bytes_.empty()) return 0;
    std::size_t count = std::min(size, bytes_.size());
    if (seed_ != 0) {
      state_ = state_ * 1103515245u + 12345u;
      count = std::min<std::size_t>(count, 1 + (state_ >> 16) % (1u + seed_ * 32u));
    }
    std::memcpy(buffer, bytes_.data(), count);
    bytes_.remove_prefix(count);
    return static_cast<long>(count);
  }

 private:
  std::string_view bytes_;
  std::uint8_t seed_;
  std::uint32_t state_;
};

// A folder of this process under the system temporary folder, created once and kept for the run.
inline const std::filesystem::path& privateFolder(std::string_view name) {
  static const std::filesystem::path folder = [&] {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("glimmer-fuzz-" + std::string(name) + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

inline bool isEmptyFolder(const std::filesystem::path& path) {
  return std::filesystem::is_directory(path) &&
         std::filesystem::directory_iterator(path) == std::filesystem::directory_iterator();
}

// True when path, taken lexically, names base itself or something below it.
inline bool staysInside(const std::filesystem::path& base, const std::filesystem::path& path) {
  const std::filesystem::path relative = path.lexically_normal().lexically_relative(base);
  return !relative.empty() && *relative.begin() != "..";
}

}  // namespace connector::fuzz
