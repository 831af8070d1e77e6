#include <algorithm>

#include "convert/workspace_files.hpp"
#include "platform/win32.hpp"

namespace connector::workspace_files {

namespace {

bool writeAndClose(UniqueHandle file, std::string_view bytes) noexcept {
  if (!file) return false;
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return CloseHandle(file.release()) != 0;
}

UniqueHandle openForWriting(const std::filesystem::path& path, DWORD disposition) noexcept {
  return UniqueHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

// The user's temporary folder already gives new entries an ACL of this user (and the system).
bool createPrivateDirectory(const std::filesystem::path& path) noexcept {
  return CreateDirectoryW(path.c_str(), nullptr) != 0;
}

bool createNewPrivateFile(const std::filesystem::path& path) noexcept {
  UniqueHandle file = openForWriting(path, CREATE_NEW);
  return file && CloseHandle(file.release()) != 0;
}

bool writePrivateFile(const std::filesystem::path& path, std::string_view bytes) noexcept {
  return writeAndClose(openForWriting(path, CREATE_ALWAYS), bytes);
}

bool fillNewPrivateFile(const std::filesystem::path& path, std::string_view bytes) noexcept {
  return writeAndClose(openForWriting(path, OPEN_EXISTING), bytes);
}

// The standard library's status follows junctions and reports them as plain directories, so
// the attribute bits are read here.
EntryKind entryKind(const std::filesystem::path& path) noexcept {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::missing;
  return entryKindFromWindowsAttributes(attributes);
}

// A junction or directory link carries the directory bit and goes with RemoveDirectoryW, which
// removes the link, not its target.
RemoveOutcome removeEntry(const std::filesystem::path& path) noexcept {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return removeOutcomeFromWindowsError(GetLastError());
  const BOOL removed = attributes & FILE_ATTRIBUTE_DIRECTORY ? RemoveDirectoryW(path.c_str())
                                                             : DeleteFileW(path.c_str());
  return removed ? RemoveOutcome::removed : removeOutcomeFromWindowsError(GetLastError());
}

}  // namespace connector::workspace_files
