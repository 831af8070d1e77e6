#include "http/status_reason.hpp"

namespace connector {

std::string& statusReason() {
  static std::string reason;
  return reason;
}

}  // namespace connector
