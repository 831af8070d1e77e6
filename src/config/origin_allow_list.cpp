#include "config/origin_allow_list.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "config/config.hpp"
#include "config/origin_syntax.hpp"
#include "platform/environment.hpp"

namespace connector {
namespace {

constexpr std::array<std::string_view, 4> kBuiltInOrigins = {
    "http://127.0.0.1:5173", "http://localhost:5173", "http://127.0.0.1:4173",
    "http://localhost:4173"};

bool listedInEnvironment(std::string_view origin) {
  const std::string list = readEnvironment("SPINE_CONNECTOR_ORIGINS");
  std::string_view rest = list;
  for (;;) {
    const std::size_t comma = rest.find(',');
    if (rest.substr(0, comma) == origin) return true;
    if (comma == std::string_view::npos) return false;
    rest.remove_prefix(comma + 1);
  }
}

}  // namespace

bool OriginAllowList::isOriginAllowed(std::string_view origin) {
  if (origin.empty()) return true;
  if (std::find(kBuiltInOrigins.begin(), kBuiltInOrigins.end(), origin) != kBuiltInOrigins.end()) {
    return true;
  }
  if (listedInEnvironment(origin)) return true;
  const ConnectorConfig config = loadConfig();
  return std::find(config.allowedOrigins.begin(), config.allowedOrigins.end(), origin) !=
         config.allowedOrigins.end();
}

bool OriginAllowList::isValidOrigin(std::string_view origin) { return matchesOriginSyntax(origin); }

}  // namespace connector
