#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "support/spine_stub_os.hpp"

extern char** environ;

namespace connector::test {

std::string startHangingCopy(const std::string& mode) {
  std::string self = "spine-stub";
  std::string option = "--import";
  std::string modeArgument = mode;
  char* argv[] = {self.data(), option.data(), modeArgument.data(), nullptr};
  pid_t pid = -1;
  if (::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, environ) != 0) return "";
  return std::to_string(pid);
}

std::string startBreakawayCopy() {
  std::string self = "spine-stub";
  std::string option = "--import";
  std::string mode = "stub-hang";
  char* argv[] = {self.data(), option.data(), mode.data(), nullptr};
  posix_spawnattr_t attributes;
  if (::posix_spawnattr_init(&attributes) != 0) return "";
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd) {
    ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
  }
  pid_t pid = -1;
  const int failed = ::posix_spawn(&pid, "/proc/self/exe", &actions, &attributes, argv, environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  return failed != 0 ? "" : std::to_string(pid);
}

void crash() {
  // No core file: it would land in the workspace and cost a disk write per crash.
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  std::signal(SIGSEGV, SIG_DFL);
  std::raise(SIGSEGV);
  std::abort();
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

std::string describeHandleCounts(const std::string& program) {
  namespace fs = std::filesystem;
  std::string report;
  std::error_code error;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
    const std::string id = process.path().filename().string();
    if (id.find_first_not_of("0123456789") != std::string::npos) continue;
    if (id == std::to_string(::getpid())) continue;
    if (fs::read_symlink(process.path() / "exe", error) != fs::path(program) || error) continue;
    const auto descriptors = fs::directory_iterator(process.path() / "fd", error);
    if (error) continue;
    const auto count = std::distance(fs::begin(descriptors), fs::end(descriptors));
    report += "pid " + id + " handles=" + std::to_string(count) + "\n";
  }
  return report;
}

}  // namespace connector::test
