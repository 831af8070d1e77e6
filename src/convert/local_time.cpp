#include "convert/local_time.hpp"

#include <ctime>

#include "platform/host.hpp"

namespace connector {

LocalTime currentLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  if (!splitLocalTime(now, parts)) return LocalTime{};
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

DosTimestamp dosTimestamp(const LocalTime& local) {
  const int year = local.year < 1980 ? 1980 : local.year;
  DosTimestamp stamp;
  stamp.time = static_cast<std::uint16_t>(local.hour * 2048 + local.minute * 32 + local.second / 2);
  stamp.date = static_cast<std::uint16_t>((year - 1980) * 512 + local.month * 32 + local.day);
  return stamp;
}

}  // namespace connector
