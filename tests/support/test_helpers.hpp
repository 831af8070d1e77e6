#pragma once
// Shared test utilities: private temporary folders, environment overrides, whole-file I/O.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace connector::test {

// A fresh, empty directory under the system temporary folder, removed with its contents.
class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view utf8) const;

 private:
  std::filesystem::path path_;
};

// Sets (or unsets, with std::nullopt) environment variables and restores the old values.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(std::string_view name, std::optional<std::string> value) { set(name, value); }
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  void set(std::string_view name, std::optional<std::string> value);

 private:
  struct Saved {
    std::string name;
    std::optional<std::string> value;
  };
  std::vector<Saved> saved_;
};

std::string readWholeFile(const std::filesystem::path& path);
void writeWholeFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace connector::test
