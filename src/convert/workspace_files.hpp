#pragma once
// The per-OS file operations behind ConversionWorkspace: private creation (only this user may
// look inside while Spine runs) and a removal that never leaves the tree through a link.
#include <cstdint>
#include <filesystem>
#include <string_view>

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

// Windows' rule, a pure function of the attribute bits (open to tests on every host): every
// reparse point counts as a link, since a junction is a directory to the walk otherwise.
EntryKind entryKindFromWindowsAttributes(std::uint32_t attributes) noexcept;
// Windows' rule for a failed removal, a pure function of the error code: a sharing or lock
// violation and access denied (also what a file pending deletion gives) pass once the holder
// lets go, and a folder is not empty while an entry inside is still pending deletion.
RemoveOutcome removeOutcomeFromWindowsError(std::uint32_t error) noexcept;

}  // namespace connector::workspace_files
