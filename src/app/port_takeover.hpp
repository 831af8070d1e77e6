#pragma once
// Finds the processes that listen on the connector's port and stops them on request.
#include <set>

#include "app/port_system.hpp"

namespace connector {

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
