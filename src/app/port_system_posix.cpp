// Port listeners and process stopping on Linux: /proc/net/tcp for the IPv4 listeners,
// /proc/<pid>/fd for the processes that own their sockets, SIGKILL to stop them.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_set>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/port_takeover.hpp"

namespace connector {

namespace {

constexpr std::chrono::milliseconds kProcessExitWait{3000};
constexpr std::chrono::milliseconds kProcessExitPoll{10};
constexpr const char* kListenState = "0A";

// Inodes of the IPv4 sockets listening on port, on any local address.
std::unordered_set<std::string> listeningInodes(std::uint16_t port) {
  std::unordered_set<std::string> inodes;
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // column headings
  while (std::getline(table, line)) {
    // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode)) {
      continue;
    }
    if (state != kListenState) continue;
    const auto colon = local.find(':');
    if (colon == std::string::npos) continue;
    char* end = nullptr;
    const std::string portHex = local.substr(colon + 1);
    const unsigned long localPort = std::strtoul(portHex.c_str(), &end, 16);
    if (end == portHex.c_str() || *end != '\0' || localPort != port) continue;
    if (inode != "0") inodes.insert(inode);
  }
  return inodes;
}

// Processes holding one of the sockets. Processes whose descriptors we may not read are missed.
std::set<ProcessId> socketOwners(const std::unordered_set<std::string>& inodes) {
  std::set<ProcessId> owners;
  if (inodes.empty()) return owners;
  namespace fs = std::filesystem;
  std::error_code ec;
  for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
    const std::string name = proc->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const auto pid = static_cast<ProcessId>(std::strtoul(name.c_str(), nullptr, 10));
    if (pid == 0) continue;
    std::error_code fdError;
    for (fs::directory_iterator fd(proc->path() / "fd", fdError), fdEnd; !fdError && fd != fdEnd;
         fd.increment(fdError)) {
      std::error_code linkError;
      const std::string target = fs::read_symlink(fd->path(), linkError).string();
      if (linkError || target.rfind("socket:[", 0) != 0 || target.back() != ']') continue;
      if (inodes.count(target.substr(8, target.size() - 9)) != 0) {
        owners.insert(pid);
        break;
      }
    }
  }
  return owners;
}

// A process counts as gone once it has no /proc entry or is a zombie (its sockets are closed).
bool processGone(pid_t pid) {
  waitpid(pid, nullptr, WNOHANG);  // reaps it if it is our own child; harmless otherwise
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string content;
  if (!stat || !std::getline(stat, content)) return true;
  // pid (comm) state ...; comm may hold spaces and parentheses, so look after the last ')'.
  const auto close = content.rfind(')');
  if (close == std::string::npos || close + 2 >= content.size()) return true;
  return content[close + 2] == 'Z';
}

PortSystem::Stop terminateAndWait(ProcessId id) {
  const auto pid = static_cast<pid_t>(id);
  if (kill(pid, SIGKILL) != 0) {
    if (errno == ESRCH) return PortSystem::Stop::Stopped;  // already gone
    if (errno == EPERM) return PortSystem::Stop::OpenRefused;
    return PortSystem::Stop::TerminateRefused;
  }
  const auto deadline = std::chrono::steady_clock::now() + kProcessExitWait;
  while (!processGone(pid) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kProcessExitPoll);
  }
  return PortSystem::Stop::Stopped;  // like the Windows wait, the outcome is not examined
}

}  // namespace

PortSystem systemPortCalls(std::uint16_t port) {
  PortSystem calls;
  calls.listeners = [port] { return socketOwners(listeningInodes(port)); };
  calls.currentProcessId = [] { return static_cast<ProcessId>(getpid()); };
  calls.terminateAndWait = terminateAndWait;
  return calls;
}

}  // namespace connector
