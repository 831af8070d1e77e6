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

// Each missing level is made private like the workspace itself. The levels are made one below
// the other through a walk, so a path thousands of levels deep costs the same per level and no
// stack per level; a path the file calls could not take afterwards fails before anything is made.
void ConversionWorkspace::ensureDirectories(const std::filesystem::path& path) {
  using workspace_files::EntryKind;
  if (workspace_files::entryKind(path) == EntryKind::directory) return;
  if (!workspace_files::fitsPathLimit(path)) throw std::runtime_error(kCannotCreateFolder);
  // Each level below the root, as the offsets of its name in the path's text.
  const auto& text = path.native();
  const auto separator = [](std::filesystem::path::value_type c) {
    return c == '/' || c == std::filesystem::path::preferred_separator;
  };
  std::vector<std::pair<std::size_t, std::size_t>> levels;
  for (std::size_t at = path.root_path().native().size(); at < text.size(); ++at) {
    if (separator(text[at])) continue;
    const std::size_t start = at;
    while (at < text.size() && !separator(text[at])) ++at;
    levels.emplace_back(start, at);
  }
  const auto upTo = [&](std::size_t count) {
    return count == 0 ? path.root_path()
                      : std::filesystem::path(text.substr(0, levels[count - 1].second));
  };
  // Below a missing level nothing exists, so the levels that exist are counted by halving: a few
  // calls however deep the path is.
  std::size_t existing = 0;
  std::size_t atMost = levels.size();
  while (existing < atMost) {
    const std::size_t middle = existing + (atMost - existing + 1) / 2;
    if (workspace_files::entryKind(upTo(middle)) != EntryKind::missing) {
      existing = middle;
    } else {
      atMost = middle - 1;
    }
  }
  workspace_files::FolderWalk walk(existing == 0 && upTo(0).empty() ? std::filesystem::path(".")
                                                                    : upTo(existing));
  if (!walk.ready()) throw std::runtime_error(kCannotCreateFolder);  // not a folder, or a link
  for (std::size_t next = existing; next < levels.size(); ++next) {
    const workspace_files::FolderWalk::Text name = workspace_files::FolderWalk::Text(text).substr(
        levels[next].first, levels[next].second - levels[next].first);
    // Another creator may have come first; only a directory at the end counts.
    if (!walk.createFolder(name) && walk.kind(name) != EntryKind::directory) {
      throw std::runtime_error(kCannotCreateFolder);
    }
    if (next + 1 < levels.size() && !walk.enter(name))
      throw std::runtime_error(kCannotCreateFolder);
  }
}

}  // namespace connector
