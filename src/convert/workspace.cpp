#include "convert/workspace.hpp"

#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "convert/workspace_files.hpp"
#include "convert/workspace_removal.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

constexpr int kCreateAttempts = 32;
constexpr const char* kCannotCreate = "无法创建连接器临时目录";
constexpr const char* kNoTempDirectory = "无法确定系统临时目录";
constexpr const char* kCannotCreateFolder = "无法创建临时子目录";

// Absolute even when TMPDIR (or TMP) is relative: Spine runs in another directory and is given
// full paths inside the workspace.
std::filesystem::path systemTempDirectory() {
  std::error_code error;
  std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  if (!error) temp = std::filesystem::absolute(temp, error);
  if (error) throw std::runtime_error(kNoTempDirectory);
  return temp;
}

}  // namespace

ConversionWorkspace::ConversionWorkspace(ConversionWorkspace&& other) noexcept
    : directory_(std::move(other.directory_)) {
  other.directory_.clear();
}

ConversionWorkspace& ConversionWorkspace::operator=(ConversionWorkspace&& other) noexcept {
  if (this != &other) {
    if (!directory_.empty()) workspace_removal::removeWorkspace(directory_);
    directory_ = std::move(other.directory_);
    other.directory_.clear();
  }
  return *this;
}

ConversionWorkspace::~ConversionWorkspace() {
  if (!directory_.empty()) workspace_removal::removeWorkspace(directory_);
}

ConversionWorkspace ConversionWorkspace::create() {
  std::random_device device;
  std::mt19937_64 generator(device());
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const std::string random = std::to_string(generator());
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    const std::string name = "glimmer-" + std::to_string(nanoseconds.count()) + "-" + random;
    std::filesystem::path candidate = systemTempDirectory() / pathFromUtf8(name);
    if (workspace_files::createPrivateDirectory(candidate))
      return ConversionWorkspace(std::move(candidate));
  }
  throw std::runtime_error(kCannotCreate);
}

void ConversionWorkspace::writeFile(const std::filesystem::path& path, std::string_view bytes,
                                    const char* failureMessage) {
  // A full disk shows only in the write or the close; a short file must not pass as staged.
  if (!workspace_files::writePrivateFile(path, bytes)) throw std::runtime_error(failureMessage);
}

void ConversionWorkspace::fillNewFile(const std::filesystem::path& path, std::string_view bytes,
                                      const char* failureMessage) {
  if (!workspace_files::fillNewPrivateFile(path, bytes)) throw std::runtime_error(failureMessage);
}

bool ConversionWorkspace::createNewFile(const std::filesystem::path& path) {
  return workspace_files::createNewPrivateFile(path);
}

bool ConversionWorkspace::readFile(const std::filesystem::path& path, std::string& bytes) {
  return workspace_files::readFile(path, bytes);
}

// Each missing level is made private like the workspace itself.
void ConversionWorkspace::ensureDirectories(const std::filesystem::path& path) {
  using workspace_files::EntryKind;
  if (workspace_files::entryKind(path) == EntryKind::directory) return;
  const std::filesystem::path parent = path.parent_path();
  if (!parent.empty() && parent != path) ensureDirectories(parent);
  // Another creator may have come first; only a directory at the end counts.
  if (!workspace_files::createPrivateDirectory(path) &&
      workspace_files::entryKind(path) != EntryKind::directory) {
    throw std::runtime_error(kCannotCreateFolder);
  }
}

}  // namespace connector
