#pragma once
// The per-OS file operations behind ConversionWorkspace: private creation (only this user may
// look inside while Spine runs) and a removal that never leaves the tree through a link.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace connector::workspace_files {

// Creates one directory (no parents) readable by this user alone; false if it was not created.
bool createPrivateDirectory(const std::filesystem::path& path) noexcept;
// Creates an empty file readable by this user alone, only if nothing of that name exists yet
// (the file system's own notion of a name, with its case rules); false otherwise.
bool createNewPrivateFile(const std::filesystem::path& path) noexcept;
// Creates or truncates the file, readable by this user alone, writes all bytes and closes it;
// false on any failure. The file is never inherited by a child process.
bool writePrivateFile(const std::filesystem::path& path, std::string_view bytes) noexcept;
// Writes all bytes into the empty file createNewPrivateFile made and closes it. Nothing is
// truncated: ext4 starts writing a file to disk as soon as it is closed after a truncation, and
// the workspace is deleted long before that is of any use.
bool fillNewPrivateFile(const std::filesystem::path& path, std::string_view bytes) noexcept;
// Reads the whole file into bytes; false if it cannot be opened or read to its end.
bool readFile(const std::filesystem::path& path, std::string& bytes);

enum class EntryKind { missing, link, directory, other };
// What a removal must do with an entry: a link of any kind (symbolic link, junction) is removed
// itself and never entered.
EntryKind entryKind(const std::filesystem::path& path) noexcept;

enum class RemoveOutcome {
  removed,  // gone, or already was
  busy,     // held for now by another program; it may go if tried again soon
  failed,   // refused in a way that waiting does not change
};
// Removes one file, link or empty directory; a link goes itself, never what it points to.
RemoveOutcome removeEntry(const std::filesystem::path& path) noexcept;

// True when the file calls take a path this long: PATH_MAX on POSIX, 32,767 characters in the
// extended-length form on Windows.
bool fitsPathLimit(const std::filesystem::path& path) noexcept;

// A walk over folders one level at a time, for trees of any depth: each step names an entry of
// the current folder only. POSIX calls are made relative to the open folder, so a level costs the
// same at any depth; Windows names each entry by its full path in the extended-length form. No
// link (symbolic link, junction) is ever entered.
class FolderWalk {
 public:
  using Text = std::basic_string_view<std::filesystem::path::value_type>;
  using Name = std::filesystem::path::string_type;

  // Starts in the folder at `folder`; ready() is false when it is not a folder that can be opened.
  explicit FolderWalk(const std::filesystem::path& folder) noexcept;
  ~FolderWalk();
  FolderWalk(const FolderWalk&) = delete;
  FolderWalk& operator=(const FolderWalk&) = delete;

  bool ready() const noexcept;
  EntryKind kind(Text name) const noexcept;
  // The names in the current folder, without "." and ".."; empty when it cannot be read.
  std::vector<Name> names() const noexcept;
  // Creates a folder readable by this user alone, as createPrivateDirectory does.
  bool createFolder(Text name) noexcept;
  // Removes a file, link or empty folder, as removeEntry does.
  RemoveOutcome remove(Text name) noexcept;
  // Goes into a folder (never through a link); false leaves the walk where it was.
  bool enter(Text name) noexcept;
  // Goes back to the folder the last enter came from; false when that is not possible, or the
  // folder is no longer where it was entered from (the walk must not go on from there).
  bool leave() noexcept;

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

// Windows' rule, a pure function of the attribute bits (open to tests on every host): every
// reparse point counts as a link, since a junction is a directory to the walk otherwise.
EntryKind entryKindFromWindowsAttributes(std::uint32_t attributes) noexcept;
// Windows' rule for a failed removal, a pure function of the error code: a sharing or lock
// violation and access denied (also what a file pending deletion gives) pass once the holder
// lets go, and a folder is not empty while an entry inside is still pending deletion.
RemoveOutcome removeOutcomeFromWindowsError(std::uint32_t error) noexcept;
// Windows' extended-length form of a full path ("\\?\C:\..." or "\\?\UNC\server\share\..."), which
// the file calls take past 260 characters (folders past 248) whatever the system's settings. The
// system does not tidy such a path, so separators become backslashes and "." and ".." steps are
// resolved here. Any other path (relative, a device path, already extended) is returned as it is.
std::wstring extendedLengthPath(std::wstring_view path);

}  // namespace connector::workspace_files
