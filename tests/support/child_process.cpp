#include <thread>

#include "support/child_process.hpp"

namespace connector::test {

bool processEndsWithin(const std::string& pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (processRunning(pid)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace connector::test
