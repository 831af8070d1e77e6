#pragma once
// Large ranges of address space kept for a moment after their buffer is done with them: a burst
// of conversions then writes into memory it already has, instead of taking hundreds of megabytes
// afresh for every request (each fresh page costs a fault and the system's zeroing). Kept ranges
// go back to the system after a short pause, so idle memory stays low.
#include <chrono>
#include <cstddef>

namespace connector::kept_ranges {

struct Range {
  char* base = nullptr;
  std::size_t reserved = 0;   // the whole range
  std::size_t committed = 0;  // writable from base on
};

// Smaller ranges are released at once.
inline constexpr std::size_t kAtLeast = std::size_t{16} << 20;
inline constexpr std::chrono::milliseconds kPause{2000};
inline constexpr std::size_t kMostKept = 1;  // one request body

// The smallest kept range of at least bytes, writable no further than `writable` bytes (the
// rest is given back: a range costs no more than the buffer that takes it); a null base if none
// is kept.
Range take(std::size_t bytes, std::size_t writable) noexcept;
// Keeps the range for about kPause; with kMostKept kept already, the oldest is released.
void keep(Range range) noexcept;

}  // namespace connector::kept_ranges
