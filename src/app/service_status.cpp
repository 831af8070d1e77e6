#include "app/service_status.hpp"

#include "api/service.hpp"
#include "api/service_instance.hpp"
#include "convert/spine_locator.hpp"
#include "http/status_reason.hpp"

namespace connector {

bool startServiceAtLaunch() {
  try {
    return connectorService().start();
  } catch (...) {
    statusReason() = "连接器启动失败";
    return false;
  }
}

StatusLine currentStatusLine(const PortTakeover& takeover) {
  const bool runningHere = connectorService().plainServer().isRunning();
  const bool portHeld = !runningHere && takeover.isPortInUse();
  const bool spineFound = runningHere && !SpineLocator::locate().empty();
  return chooseStatusLine(runningHere, portHeld, spineFound, statusReason());
}

}  // namespace connector
