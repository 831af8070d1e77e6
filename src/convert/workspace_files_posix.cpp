#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "convert/workspace_files.hpp"
#include "platform/read_file.hpp"
#include "platform/unique_fd.hpp"

namespace connector::workspace_files {

bool createPrivateDirectory(const std::filesystem::path& path) noexcept {
  return ::mkdir(path.c_str(), 0700) == 0;
}

bool createNewPrivateFile(const std::filesystem::path& path) noexcept {
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  return file && file.close();
}

namespace {

bool writeAndClose(UniqueFd file, std::string_view bytes) noexcept {
  return file && writeAll(file.get(), bytes) && file.close();
}

}  // namespace

bool writePrivateFile(const std::filesystem::path& path, std::string_view bytes) noexcept {
  return writeAndClose(
      UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600)),
      bytes);
}

bool fillNewPrivateFile(const std::filesystem::path& path, std::string_view bytes) noexcept {
  return writeAndClose(UniqueFd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW)), bytes);
}

bool readFile(const std::filesystem::path& path, std::string& bytes) {
  return readWholeFile(path, bytes) == FileRead::Read;
}

EntryKind entryKind(const std::filesystem::path& path) noexcept {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(path, error);
  if (error || !std::filesystem::exists(status)) return EntryKind::missing;
  if (std::filesystem::is_symlink(status)) return EntryKind::link;
  if (std::filesystem::is_directory(status)) return EntryKind::directory;
  return EntryKind::other;
}

std::vector<std::filesystem::path> directoryEntries(const std::filesystem::path& path) noexcept {
  std::vector<std::filesystem::path> entries;
  try {
    std::error_code error;
    std::filesystem::directory_iterator it(path, error);
    for (const std::filesystem::directory_iterator end; !error && it != end; it.increment(error)) {
      entries.push_back(it->path());
    }
  } catch (...) {
    // No memory for the list: the entries found so far.
  }
  return entries;
}

// Nothing holds a name against its removal here, but a descendant that left the process group
// may still be adding to a folder.
RemoveOutcome removeEntry(const std::filesystem::path& path) noexcept {
  if (::unlink(path.c_str()) == 0) return RemoveOutcome::removed;
  if (errno == EISDIR && ::rmdir(path.c_str()) == 0) return RemoveOutcome::removed;
  if (errno == ENOENT) return RemoveOutcome::removed;
  return errno == ENOTEMPTY || errno == EEXIST ? RemoveOutcome::busy : RemoveOutcome::failed;
}

}  // namespace connector::workspace_files
