#include "api/host_check.hpp"

#include <array>
#include <string>

#include "encoding/ascii.hpp"

namespace connector {

bool isConnectorHost(std::string_view host, std::uint16_t port) {
  // A bracketed IPv6 literal ends at its "]"; any other name ends at the first ":".
  std::size_t nameEnd = host.starts_with('[') ? host.find(']') : host.find(':');
  if (nameEnd != std::string_view::npos && host.starts_with('[')) ++nameEnd;
  std::string_view name = host.substr(0, nameEnd);
  std::string_view rest =
      nameEnd == std::string_view::npos ? std::string_view() : host.substr(nameEnd);

  static constexpr std::array<std::string_view, 3> kNames{"127.0.0.1", "localhost", "[::1]"};
  bool known = false;
  for (std::string_view candidate : kNames)
    known = known || equalsIgnoringAsciiCase(name, candidate);
  if (!known) return false;
  if (rest.empty()) return true;
  // The port must be written exactly as the server's decimal port: no sign, no leading zero.
  return rest.starts_with(':') && rest.substr(1) == std::to_string(port);
}

}  // namespace connector
