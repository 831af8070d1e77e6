// Process stopping on Linux: SIGKILL for the holders the listener table names.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/port_system.hpp"

namespace connector {

namespace {

constexpr std::chrono::milliseconds kProcessExitWait{3000};
constexpr std::chrono::milliseconds kProcessExitPoll{10};

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
  calls.listeners = [port] { return knownOwners(ipv4ListenersOn(port)); };
  calls.currentProcessId = [] { return static_cast<ProcessId>(getpid()); };
  calls.terminateAndWait = terminateAndWait;
  return calls;
}

}  // namespace connector
