#include "api/router.hpp"
#include "http/service.hpp"

namespace connector {

ConnectorService& connectorService() {
  static ConnectorService service(
      [](ConnectorService& bound) { return makeRouteHandler(bound); }, kConnectorPort);
  return service;
}

}  // namespace connector
