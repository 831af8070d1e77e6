#include "convert/local_time.hpp"

namespace connector {

DosTimestamp dosTimestamp(const LocalTime& local) {
  const int year = local.year < 1980 ? 1980 : local.year;
  DosTimestamp stamp;
  stamp.time = static_cast<std::uint16_t>(local.hour * 2048 + local.minute * 32 + local.second / 2);
  stamp.date = static_cast<std::uint16_t>((year - 1980) * 512 + local.month * 32 + local.day);
  return stamp;
}

}  // namespace connector
