#include "platform/file_lock.hpp"
#include "platform/win32.hpp"

namespace connector {

std::intptr_t FileLock::open(const std::filesystem::path& path, bool create) noexcept {
  // Every sharing mode: the lock, not the open, is what excludes the other process.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kNone : reinterpret_cast<std::intptr_t>(file);
}

Attempt FileLock::tryLock(std::intptr_t handle, Mode mode) noexcept {
  OVERLAPPED first{};  // byte 0; a lock beyond the end of the file is allowed
  DWORD flags = LOCKFILE_FAIL_IMMEDIATELY;
  if (mode == Mode::Exclusive) flags |= LOCKFILE_EXCLUSIVE_LOCK;
  if (LockFileEx(reinterpret_cast<HANDLE>(handle), flags, 0, 1, 0, &first)) return Attempt::Done;
  return GetLastError() == ERROR_LOCK_VIOLATION ? Attempt::Busy : Attempt::Failed;
}

void FileLock::release(std::intptr_t handle) noexcept {
  if (handle == kNone) return;
  HANDLE file = reinterpret_cast<HANDLE>(handle);
  OVERLAPPED first{};
  UnlockFileEx(file, 0, 1, 0, &first);
  CloseHandle(file);
}

}  // namespace connector
