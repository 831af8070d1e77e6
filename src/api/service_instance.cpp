#include "api/service_instance.hpp"

#include "api/pairing_registry.hpp"
#include "api/router.hpp"

namespace connector {

ConnectorService& connectorService() {
  // The registry is made first so that it is destroyed after the service, whose destruction
  // waits for the connection threads that may still use it.
  pairingRegistry();
  static ConnectorService service([](ConnectorService& bound) { return makeRouteHandler(bound); },
                                  kConnectorPort);
  return service;
}

}  // namespace connector
