#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/read_file.hpp"
#include "platform/unique_fd.hpp"

namespace connector {

FileRead readWholeFile(const std::filesystem::path& path, std::string& bytes) {
  bytes.clear();
  // Non-blocking open: a FIFO in the file's place must not hang the caller.
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  const int openError = errno;
  UniqueFd file(descriptor);
  if (!file) return openError == ENOENT ? FileRead::Missing : FileRead::Unreadable;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return FileRead::Unreadable;
  char buffer[8192];
  for (;;) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got == 0) return FileRead::Read;
    if (got < 0) {
      if (errno == EINTR) continue;
      bytes.clear();
      return FileRead::Unreadable;
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace connector
