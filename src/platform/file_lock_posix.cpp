#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "platform/file_lock.hpp"
#include "platform/unique_fd.hpp"

namespace connector {

std::optional<FileLock> FileLock::acquire(const std::filesystem::path& path, Mode mode, bool create) {
  // flock, not fcntl: an fcntl lock is dropped when any descriptor of the file in this process
  // closes, and threads of one process never exclude each other with it.
  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (create ? O_CREAT : 0);
  UniqueFd file(::open(path.c_str(), flags, 0666));
  if (!file) return std::nullopt;
  const int operation = mode == Mode::Exclusive ? LOCK_EX : LOCK_SH;
  int result = 0;
  do {
    result = ::flock(file.get(), operation);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return std::nullopt;
  return FileLock(file.release());
}

void FileLock::release(std::intptr_t handle) noexcept {
  if (handle == kNone) return;
  // Closing the last descriptor of the open file releases its flock.
  ::close(static_cast<int>(handle));
}

}  // namespace connector
