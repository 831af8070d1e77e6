#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/durable_file.hpp"
#include "platform/unique_fd.hpp"

namespace connector {
namespace {

int fsyncRetrying(int fd) {
  int result = 0;
  do {
    result = ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  return result;
}

}  // namespace

DurableWrite writeFileDurably(const std::filesystem::path& path, std::string_view bytes) {
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!file) return DurableWrite::OpenFailed;
  if (!writeAll(file.get(), bytes)) return DurableWrite::WriteFailed;
  if (fsyncRetrying(file.get()) != 0) return DurableWrite::WriteFailed;
  if (!file.close()) return DurableWrite::WriteFailed;
  return DurableWrite::Written;
}

void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::filesystem::rename(from, to);
  // The rename itself lives in the directory; sync it too. Best effort: the settings are already
  // in place, and some file systems refuse fsync on a directory.
  std::filesystem::path folder = to.parent_path();
  if (folder.empty()) folder = u8".";
  UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory) fsyncRetrying(directory.get());
}

}  // namespace connector
