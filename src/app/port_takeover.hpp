#pragma once
// Finds the processes that listen on the connector's port and stops them on request.
#include <set>

#include "app/port_system.hpp"

namespace connector {

// The takeover's failure when the system's HTTP service (HTTP.sys) holds the port: its
// listeners belong to the System process, which nobody can end.
inline constexpr const char* kHttpServiceHoldsPort =
    "端口 27843 被系统 HTTP 服务（HTTP.sys）占用，无法停止";

class PortTakeover {
 public:
  explicit PortTakeover(PortSystem system);
  PortTakeover();  // the real system, port 27843

  std::set<ProcessId> listeningProcesses() const;
  bool isPortInUse() const;
  // Terminates the holders and waits for the port; leaves statusReason() empty on success,
  // or sets it to one of the failure messages. Stops nothing while the system process holds
  // the port.
  void stopPortHolders() const;

 private:
  PortSystem system_;
};

}  // namespace connector
