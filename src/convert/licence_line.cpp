#include "convert/licence_line.hpp"

#include "encoding/ascii.hpp"

namespace connector {

bool isLicenceLine(std::string_view line) {
  constexpr std::string_view kLabel = "licensed to:";
  return equalsIgnoringAsciiCase(line.substr(0, kLabel.size()), kLabel);
}

}  // namespace connector
