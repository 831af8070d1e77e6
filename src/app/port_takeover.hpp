#pragma once
// Finds the processes that listen on the connector's port and stops them on request.
#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <thread>

namespace connector {

using ProcessId = std::uint32_t;

// The system calls takeover needs; tests replace them.
struct PortSystem {
  std::function<std::set<ProcessId>()> listeners;  // IPv4 listeners on the port
  std::function<ProcessId()> currentProcessId;
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

class PortTakeover {
 public:
  explicit PortTakeover(PortSystem system);
  PortTakeover();  // the real system, port 27843

  std::set<ProcessId> listeningProcesses() const;
  bool isPortInUse() const;
  // Terminates the holders and waits for the port; leaves statusReason() empty on success,
  // or sets it to one of the four failure messages.
  void stopPortHolders() const;

 private:
  PortSystem system_;
};

}  // namespace connector
