#include <ctime>

#include "convert/local_time.hpp"

namespace connector {

LocalTime currentLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  // localtime_r, not localtime: the shared buffer of localtime is not safe across threads.
  if (localtime_r(&now, &parts) == nullptr) return LocalTime{};
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

}  // namespace connector
