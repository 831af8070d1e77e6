#include "platform/file_lock.hpp"
#include "platform/win32.hpp"

namespace connector {

std::optional<FileLock> FileLock::acquire(const std::filesystem::path& path, Mode mode, bool create) {
  // Every sharing mode: the lock, not the open, is what excludes the other process.
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  OVERLAPPED first{};  // byte 0; a lock beyond the end of the file is allowed
  const DWORD flags = mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (!LockFileEx(file.get(), flags, 0, 1, 0, &first)) return std::nullopt;
  return FileLock(reinterpret_cast<std::intptr_t>(file.release()));
}

void FileLock::release(std::intptr_t handle) noexcept {
  if (handle == kNone) return;
  HANDLE file = reinterpret_cast<HANDLE>(handle);
  OVERLAPPED first{};
  UnlockFileEx(file, 0, 1, 0, &first);
  CloseHandle(file);
}

}  // namespace connector
