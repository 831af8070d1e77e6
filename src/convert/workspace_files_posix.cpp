#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "convert/workspace_files.hpp"
#include "platform/read_file.hpp"
#include "platform/unique_fd.hpp"

namespace connector::workspace_files {

namespace {

// The calls below take a name relative to an open folder, or AT_FDCWD and a full path.
bool createPrivateDirectoryAt(int folder, const char* name) noexcept {
  return ::mkdirat(folder, name, 0700) == 0;
}

EntryKind entryKindAt(int folder, const char* name) noexcept {
  struct stat status {};
  if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::missing;
  if (S_ISLNK(status.st_mode)) return EntryKind::link;
  if (S_ISDIR(status.st_mode)) return EntryKind::directory;
  return EntryKind::other;
}

// Nothing holds a name against its removal here, but a descendant that left the process group
// may still be adding to a folder.
RemoveOutcome removeEntryAt(int folder, const char* name) noexcept {
  if (::unlinkat(folder, name, 0) == 0) return RemoveOutcome::removed;
  if (errno == EISDIR && ::unlinkat(folder, name, AT_REMOVEDIR) == 0) return RemoveOutcome::removed;
  if (errno == ENOENT) return RemoveOutcome::removed;
  return errno == ENOTEMPTY || errno == EEXIST ? RemoveOutcome::busy : RemoveOutcome::failed;
}

}  // namespace

bool createPrivateDirectory(const std::filesystem::path& path) noexcept {
  return createPrivateDirectoryAt(AT_FDCWD, path.c_str());
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
  return entryKindAt(AT_FDCWD, path.c_str());
}

RemoveOutcome removeEntry(const std::filesystem::path& path) noexcept {
  return removeEntryAt(AT_FDCWD, path.c_str());
}

bool fitsPathLimit(const std::filesystem::path& path) noexcept {
  return path.native().size() < PATH_MAX;  // the limit counts the final NUL
}

struct FolderWalk::Native {
  UniqueFd folder;
  // Device and inode of each folder from the start to the current one: leaving through ".."
  // must arrive where the walk came from, also when a folder was moved meanwhile.
  std::vector<std::pair<dev_t, ino_t>> trail;

  bool push(UniqueFd opened) {
    struct stat status {};
    if (!opened || ::fstat(opened.get(), &status) != 0) return false;
    trail.emplace_back(status.st_dev, status.st_ino);
    folder = std::move(opened);
    return true;
  }
};

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

FolderWalk::FolderWalk(const std::filesystem::path& folder) noexcept {
  try {
    auto native = std::make_unique<Native>();
    if (native->push(UniqueFd(::open(folder.c_str(), kFolderFlags)))) native_ = std::move(native);
  } catch (...) {
    // No memory: not ready.
  }
}

FolderWalk::~FolderWalk() = default;

bool FolderWalk::ready() const noexcept { return native_ != nullptr; }

EntryKind FolderWalk::kind(Text name) const noexcept {
  try {
    return entryKindAt(native_->folder.get(), Name(name).c_str());
  } catch (...) {
    return EntryKind::other;  // no memory for the name: neither entered nor taken as gone
  }
}

std::vector<FolderWalk::Name> FolderWalk::names() const noexcept {
  std::vector<Name> names;
  try {
    // A copy of the descriptor shares its reading position, which an earlier listing moved.
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(
        ::fdopendir(::fcntl(native_->folder.get(), F_DUPFD_CLOEXEC, 0)), ::closedir);
    if (!listing) return names;
    ::rewinddir(listing.get());
    while (const dirent* entry = ::readdir(listing.get())) {
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
    }
  } catch (...) {
    // No memory for the list: the names found so far.
  }
  return names;
}

bool FolderWalk::createFolder(Text name) noexcept {
  try {
    return createPrivateDirectoryAt(native_->folder.get(), Name(name).c_str());
  } catch (...) {
    return false;  // no memory for the name
  }
}

RemoveOutcome FolderWalk::remove(Text name) noexcept {
  try {
    return removeEntryAt(native_->folder.get(), Name(name).c_str());
  } catch (...) {
    return RemoveOutcome::failed;  // no memory for the name
  }
}

bool FolderWalk::enter(Text name) noexcept {
  try {
    return native_->push(
        UniqueFd(::openat(native_->folder.get(), Name(name).c_str(), kFolderFlags)));
  } catch (...) {
    return false;  // no memory for the name or the trail
  }
}

bool FolderWalk::leave() noexcept {
  auto& trail = native_->trail;
  if (trail.size() < 2) return false;
  UniqueFd parent(::openat(native_->folder.get(), "..", kFolderFlags));
  struct stat status {};
  if (!parent || ::fstat(parent.get(), &status) != 0 ||
      std::pair(status.st_dev, status.st_ino) != trail[trail.size() - 2]) {
    return false;
  }
  trail.pop_back();
  native_->folder = std::move(parent);
  return true;
}

}  // namespace connector::workspace_files
