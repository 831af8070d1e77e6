#include "api/health.hpp"

#include <mutex>

#include "api/api_replies.hpp"
#include "api/service.hpp"
#include "config/origin_allow_list.hpp"
#include "connector_version.hpp"
#include "convert/spine_locator.hpp"
#include "encoding/json.hpp"
#include "platform/host.hpp"

namespace connector {

HttpResponse healthResponse(ConnectorService& service, const HttpRequest& request,
                            const std::string& origin) {
  // The search for Spine comes before the state lock: it may wait for the settings file or a
  // slow drive, and pairings and conversions wait for that lock. It reads the settings as one
  // whole, like any reader, so it needs no lock of its own.
  const bool spineFound = !SpineLocator::locate().empty();
  // Held for the rest of the report, so it never mixes a pairing half-saved by another thread.
  std::lock_guard lock(service.stateLock());
  const bool authorized = OriginAllowList::isOriginAllowed(origin);
  const bool secureAvailable = service.secureServer().isRunning();

  JsonObject report;
  report["connectorVersion"] = kConnectorVersion;
  report["authorized"] = authorized;
  report["spineFound"] = spineFound;
  report["secureAvailable"] = secureAvailable;
  report["platform"] = platformName();
  report["supportedVersions"] = JsonArray{"3.8", "4.0", "4.1", "4.2", "4.3"};
  if (!authorized) report["pairUrl"] = pairUrlFor(request, origin);
  return jsonResponse(200, std::move(report), origin);
}

}  // namespace connector
