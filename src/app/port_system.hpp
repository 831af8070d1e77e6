#pragma once
// The system calls port takeover needs, one implementation per OS; tests replace them.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/host.hpp"

namespace connector {

struct PortSystem {
  std::function<std::set<ProcessId>()> listeners;  // IPv4 listeners on the port
  std::function<ProcessId()> currentProcessId;
  // The id under which the system itself holds ports (Windows: System, 4, the owner of every
  // HTTP.sys listener); never stopped. None where no process stands for the system.
  std::optional<ProcessId> systemProcess;
  enum class Stop { Stopped, OpenRefused, TerminateRefused };
  // Terminate with code 0, wait up to 3000 ms. A process that started after the last read of
  // the listeners is not the one seen there and is left alone (Stopped).
  std::function<Stop(ProcessId)> terminateAndWait;
  // The clock is the same on every system.
  std::function<void(std::chrono::milliseconds)> sleep = [](std::chrono::milliseconds pause) {
    std::this_thread::sleep_for(pause);
  };
  std::function<std::chrono::steady_clock::time_point()> now = [] {
    return std::chrono::steady_clock::now();
  };
};

// The real system calls for port (27843 in the shipped program).
PortSystem systemPortCalls(std::uint16_t port);

// The processes the listener table names for port; no table, or an owner the system does not
// name, adds none.
inline std::set<ProcessId> knownOwners(const std::optional<std::vector<ProcessId>>& rows) {
  std::set<ProcessId> owners;
  if (!rows) return owners;
  for (ProcessId id : *rows) {
    if (id != 0) owners.insert(id);
  }
  return owners;
}

}  // namespace connector
