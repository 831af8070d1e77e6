#pragma once
// The pacing of one socket call that waits for its peer: slices short enough to notice a
// cancel from another thread, up to the call's own time-out or a deadline set beyond the call.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>

namespace connector {

inline constexpr std::chrono::milliseconds kWaitSlice{100};
inline constexpr std::chrono::milliseconds kSendGraceAfterCancel{1000};

class PeerWait {
 public:
  using Clock = std::chrono::steady_clock;

  // limit: the call's time-out, zero for none; grace: how long it may go on once cancelled;
  // deadline: when the call must have ended, whatever the limit (the largest time for none).
  PeerWait(std::chrono::milliseconds limit, const std::atomic<bool>& cancelled,
           std::chrono::milliseconds grace,
           Clock::time_point deadline = Clock::time_point::max()) noexcept
      : cancelled_(cancelled), grace_(grace) {
    if (limit.count() > 0) deadline_ = Clock::now() + limit;
    if (deadline != Clock::time_point::max())
      deadline_ = std::min(deadline_.value_or(deadline), deadline);
  }

  // Whether the call is past its deadline already, before it waits at all.
  bool expired() const { return deadline_ && Clock::now() >= *deadline_; }

  // Milliseconds to wait next, or no value when the call must give up.
  std::optional<int> nextSlice() {
    const Clock::time_point now = Clock::now();
    if (cancelled_.load() && !cancelDeadline_) cancelDeadline_ = now + grace_;
    Clock::time_point end = now + kWaitSlice;
    for (const std::optional<Clock::time_point>& limit : {deadline_, cancelDeadline_}) {
      if (!limit) continue;
      if (now >= *limit) return std::nullopt;
      end = std::min(end, *limit);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(end - now);
    return static_cast<int>(std::max<long long>(1, wait.count()));
  }

 private:
  const std::atomic<bool>& cancelled_;
  std::chrono::milliseconds grace_;
  std::optional<Clock::time_point> deadline_;
  std::optional<Clock::time_point> cancelDeadline_;
};

}  // namespace connector
