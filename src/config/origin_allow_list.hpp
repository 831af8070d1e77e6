#pragma once
#include <string_view>

namespace connector {

class OriginAllowList {
 public:
  // Empty origin, the four built-ins, SPINE_CONNECTOR_ORIGINS, then the paired origins.
  static bool isOriginAllowed(std::string_view origin);
  // Whole-text match of the origin syntax (scheme, host or [ipv6], optional port).
  static bool isValidOrigin(std::string_view origin);
};

}  // namespace connector
