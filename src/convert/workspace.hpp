#pragma once
// A private temporary directory for one conversion, removed with everything in it on destruction.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace connector {

class ConversionWorkspace {
 public:
  ConversionWorkspace() = default;
  ConversionWorkspace(ConversionWorkspace&& other) noexcept;
  ConversionWorkspace& operator=(ConversionWorkspace&& other) noexcept;
  ConversionWorkspace(const ConversionWorkspace&) = delete;
  ConversionWorkspace& operator=(const ConversionWorkspace&) = delete;
  ~ConversionWorkspace();

  // Creates "glimmer-<steady ns>-<mt19937_64>" under the temporary directory (32 attempts),
  // else throws std::runtime_error("无法创建连接器临时目录").
  static ConversionWorkspace create();

  const std::filesystem::path& directory() const noexcept { return directory_; }
  // Creates or truncates the file and writes the bytes; throws failureMessage if it cannot be
  // opened.
  static void writeFile(const std::filesystem::path& path, std::string_view bytes,
                        const char* failureMessage);
  static void ensureDirectories(const std::filesystem::path& path);
  // Creates an empty file where nothing of that name exists yet (as the file system compares
  // names); false if something does, or the file cannot be made.
  static bool createNewFile(const std::filesystem::path& path);
  // Writes into a file createNewFile made; throws failureMessage as writeFile does.
  static void fillNewFile(const std::filesystem::path& path, std::string_view bytes,
                          const char* failureMessage);
  // Reads a whole file of the workspace (the project Spine wrote) under the same names as the
  // calls above; false if it cannot be opened or read to its end.
  static bool readFile(const std::filesystem::path& path, std::string& bytes);

 private:
  explicit ConversionWorkspace(std::filesystem::path directory)
      : directory_(std::move(directory)) {}
  std::filesystem::path directory_;
};

}  // namespace connector
