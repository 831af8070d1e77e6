#include "convert/local_time_system.hpp"

namespace connector {

bool splitLocalTime(std::time_t when, std::tm& parts) noexcept {
  return localtime_r(&when, &parts) != nullptr;
}

}  // namespace connector
