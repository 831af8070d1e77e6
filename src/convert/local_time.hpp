#pragma once
// The wall-clock time of this computer's time zone, and its packing into ZIP (MS-DOS) fields.
#include <cstdint>

namespace connector {

struct LocalTime {
  int year = 1980;  // full year, such as 2024
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

struct DosTimestamp {
  std::uint16_t time = 0;
  std::uint16_t date = 0;
};

// The current local time, read once per call.
LocalTime currentLocalTime();

// hour*2048 + minute*32 + second/2 and (year-1980)*512 + month*32 + day; years before 1980 count as
// 1980.
DosTimestamp dosTimestamp(const LocalTime& local);

}  // namespace connector
