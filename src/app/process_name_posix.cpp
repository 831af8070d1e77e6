#include "app/process_name.hpp"

#include <fstream>

namespace connector {

std::string processName(ProcessId id) {
  // The command name as the kernel keeps it (at most 15 bytes), readable for any user's process.
  std::ifstream comm("/proc/" + std::to_string(id) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

}  // namespace connector
