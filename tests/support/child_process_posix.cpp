#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "support/child_process.hpp"

namespace connector::test {

bool processRunning(const std::string& pid) {
  if (pid.empty()) return false;
  // "<pid> (<name>) <state> ...": the name may hold spaces and parentheses, the state follows
  // the last ')'. Z (zombie) and X (dead) have ended.
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return false;
  const char state = line[close + 2];
  return state != 'Z' && state != 'X';
}

void killProcess(const std::string& pid) {
  if (processRunning(pid)) ::kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
}

// Deliberately without O_CLOEXEC.
InheritableProbe::InheritableProbe(const std::filesystem::path& file)
    : handle_(::open(file.c_str(), O_RDONLY)) {}

InheritableProbe::~InheritableProbe() {
  if (valid()) ::close(static_cast<int>(handle_));
}

bool InheritableProbe::valid() const { return handle_ >= 0; }

std::string InheritableProbe::value() const { return std::to_string(handle_); }

}  // namespace connector::test
