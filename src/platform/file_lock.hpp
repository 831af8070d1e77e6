#pragma once
// An advisory lock on a lock file, shared by every process that uses the same file. The OS drops
// it when its owner dies, so a killed process never leaves a lock that blocks the next one.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>

#include "platform/busy_retry.hpp"

namespace connector {

class FileLock {
 public:
  enum class Mode { Exclusive, Shared };

  // Opens the lock file (creating it when `create`) and tries the lock without waiting, again
  // and again within `wait`: a holder that hangs (a stuck copy, a stalled network share) must
  // not hang this process. Done with the lock in `lock`; Busy when another holder kept it
  // throughout; Failed when the file cannot be opened or locked.
  static Attempt acquire(const std::filesystem::path& path, Mode mode, bool create, RetryLimit wait,
                         std::optional<FileLock>& lock);

  FileLock(FileLock&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}
  FileLock& operator=(FileLock&& other) noexcept {
    if (this != &other) {
      release(std::exchange(handle_, std::exchange(other.handle_, kNone)));
    }
    return *this;
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() { release(std::exchange(handle_, kNone)); }

 private:
  static constexpr std::intptr_t kNone = -1;
  explicit FileLock(std::intptr_t handle) noexcept : handle_(handle) {}
  // The system's side: open (kNone on failure) and one try of the lock that never waits.
  static std::intptr_t open(const std::filesystem::path& path, bool create) noexcept;
  static Attempt tryLock(std::intptr_t handle, Mode mode) noexcept;
  // Unlocks and closes; nothing for kNone.
  static void release(std::intptr_t handle) noexcept;

  std::intptr_t handle_ = kNone;  // a descriptor, or a HANDLE on Windows
};

}  // namespace connector
