#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.hpp"

namespace connector {

std::intptr_t FileLock::open(const std::filesystem::path& path, bool create) noexcept {
  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (create ? O_CREAT : 0);
  const int file = ::open(path.c_str(), flags, 0666);
  return file < 0 ? kNone : file;
}

Attempt FileLock::tryLock(std::intptr_t handle, Mode mode) noexcept {
  // flock, not fcntl: an fcntl lock is dropped when any descriptor of the file in this process
  // closes, and threads of one process never exclude each other with it.
  const int operation = (mode == Mode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  int result = 0;
  do {
    result = ::flock(static_cast<int>(handle), operation);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return Attempt::Done;
  return errno == EWOULDBLOCK ? Attempt::Busy : Attempt::Failed;
}

void FileLock::release(std::intptr_t handle) noexcept {
  if (handle == kNone) return;
  // Closing the last descriptor of the open file releases its flock.
  ::close(static_cast<int>(handle));
}

}  // namespace connector
