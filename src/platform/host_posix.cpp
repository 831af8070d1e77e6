// Linux: /proc/net/tcp for the IPv4 listeners, /proc/<pid>/fd for the processes that own them.
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>

#include "platform/environment.hpp"
#include "platform/host.hpp"

namespace connector {
namespace {

constexpr const char* kListenState = "0A";

// Inodes of the IPv4 sockets listening on port, on any local address.
std::vector<std::string> listeningInodes(std::uint16_t port) {
  std::vector<std::string> inodes;
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
    inodes.push_back(inode);
  }
  return inodes;
}

// The owner of each socket inode, where /proc lets us read its descriptors.
void findOwners(std::map<std::string, ProcessId>& owners) {
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
      const auto owner = owners.find(target.substr(8, target.size() - 9));
      if (owner != owners.end() && owner->second == 0) owner->second = pid;
    }
  }
}

}  // namespace

const char* platformName() noexcept { return "linux"; }

std::string homeFallback() { return readEnvironmentStrict("HOME"); }

bool splitLocalTime(std::time_t when, std::tm& parts) noexcept {
  return localtime_r(&when, &parts) != nullptr;
}

std::optional<std::vector<ProcessId>> ipv4ListenersOn(std::uint16_t port) {
  std::map<std::string, ProcessId> owners;
  std::vector<std::string> inodes = listeningInodes(port);
  for (const std::string& inode : inodes) {
    if (inode != "0") owners.emplace(inode, 0);
  }
  if (!owners.empty()) findOwners(owners);
  std::vector<ProcessId> rows;
  for (const std::string& inode : inodes) rows.push_back(inode == "0" ? 0 : owners[inode]);
  return rows;
}

}  // namespace connector
