#include "convert/spine_version_pattern.hpp"

namespace connector {

std::optional<std::string_view> matchSpineVersion(std::string_view text) {
  if (text.size() < 3) return std::nullopt;
  const std::string_view majorMinor = text.substr(0, 3);
  const bool known =
      majorMinor == "3.8" || (text[0] == '4' && text[1] == '.' && text[2] >= '0' && text[2] <= '3');
  if (!known) return std::nullopt;
  const std::string_view patch = text.substr(3);
  if (patch.empty()) return majorMinor;
  if (patch.size() < 2 || patch[0] != '.') return std::nullopt;
  for (const char c : patch.substr(1)) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return majorMinor;
}

}  // namespace connector
