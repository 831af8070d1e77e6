#include "convert/workspace.hpp"

#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "convert/workspace_files.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

constexpr int kCreateAttempts = 32;
constexpr int kRemoveAttempts = 20;
constexpr std::chrono::milliseconds kRemoveRetryDelay{25};
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

// Depth-first, files before their folder, and every error skipped so the rest still goes.
// A link inside (symbolic link, junction) is removed itself: what it points to lies outside.
void removeTree(const std::filesystem::path& path) noexcept {
  try {
    if (workspace_files::entryKind(path) == workspace_files::EntryKind::directory) {
      std::error_code error;
      std::filesystem::directory_iterator it(path, error);
      const std::filesystem::directory_iterator end;
      while (!error && it != end) {
        removeTree(it->path());
        it.increment(error);
      }
    }
    workspace_files::removeEntry(path);
  } catch (...) {
    // Out of memory while walking: leave the rest behind rather than fail.
  }
}

// Windows keeps a folder busy for a moment after the child that ran in it has ended, so
// whatever could not go yet is tried again briefly; destruction still never fails.
void removeWorkspace(const std::filesystem::path& directory) noexcept {
  for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
    if (attempt > 0) {
      try {
        std::this_thread::sleep_for(kRemoveRetryDelay);
      } catch (...) {
        return;
      }
    }
    removeTree(directory);
    if (workspace_files::entryKind(directory) == workspace_files::EntryKind::missing) return;
  }
}

}  // namespace

ConversionWorkspace::ConversionWorkspace(ConversionWorkspace&& other) noexcept
    : directory_(std::move(other.directory_)) {
  other.directory_.clear();
}

ConversionWorkspace& ConversionWorkspace::operator=(ConversionWorkspace&& other) noexcept {
  if (this != &other) {
    if (!directory_.empty()) removeWorkspace(directory_);
    directory_ = std::move(other.directory_);
    other.directory_.clear();
  }
  return *this;
}

ConversionWorkspace::~ConversionWorkspace() {
  if (!directory_.empty()) removeWorkspace(directory_);
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
    if (workspace_files::createPrivateDirectory(candidate)) return ConversionWorkspace(std::move(candidate));
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

namespace workspace_files {

EntryKind entryKindFromWindowsAttributes(std::uint32_t attributes) noexcept {
  constexpr std::uint32_t kDirectory = 0x10;     // FILE_ATTRIBUTE_DIRECTORY
  constexpr std::uint32_t kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
  if (attributes & kReparsePoint) return EntryKind::link;
  if (attributes & kDirectory) return EntryKind::directory;
  return EntryKind::other;
}

}  // namespace workspace_files

}  // namespace connector
