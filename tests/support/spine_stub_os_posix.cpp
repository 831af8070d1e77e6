#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/spine_stub_os.hpp"

extern char** environ;

namespace connector::test {

std::string startHangingCopy() {
  std::string self = "spine-stub";
  std::string option = "--import";
  std::string mode = "stub-hang";
  char* argv[] = {self.data(), option.data(), mode.data(), nullptr};
  pid_t pid = -1;
  if (::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, environ) != 0) return "";
  return std::to_string(pid);
}

std::string describeInheritedHandles(const std::vector<std::string>& probes) {
  std::string report;
  for (const std::string& probe : probes) {
    const bool open = ::fcntl(std::stoi(probe), F_GETFD) != -1;
    report += "probe " + probe + (open ? "=open\n" : "=closed\n");
  }
  std::string fds;
  const long limit = ::sysconf(_SC_OPEN_MAX);
  for (int fd = 0; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd) {
    if (::fcntl(fd, F_GETFD) == -1) continue;
    if (!fds.empty()) fds += ',';
    fds += std::to_string(fd);
  }
  return report + "fds=" + fds + "\n";
}

}  // namespace connector::test
