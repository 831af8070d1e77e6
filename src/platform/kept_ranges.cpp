#include "platform/kept_ranges.hpp"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/address_space.hpp"
#include "platform/worker_thread.hpp"

namespace connector::kept_ranges {
namespace {

using Clock = std::chrono::steady_clock;

struct Kept {
  Range range;
  Clock::time_point until;
};

class Shelf {
 public:
  Range take(std::size_t bytes, std::size_t writable) {
    const std::lock_guard guard(lock_);
    auto best = kept_.end();
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
      if (it->range.reserved >= bytes &&
          (best == kept_.end() || it->range.reserved < best->range.reserved)) {
        best = it;
      }
    }
    if (best == kept_.end()) return {};
    Range range = best->range;
    kept_.erase(best);
    const std::size_t needed = std::min(writable, range.reserved);
    if (range.committed > needed) {
      address_space::decommit(range.base + needed, range.committed - needed);
      range.committed = needed;
    }
    return range;
  }

  void keep(Range range) {
    const std::lock_guard guard(lock_);
    if (kept_.size() >= kMostKept) {
      const Range oldest = kept_.front().range;
      kept_.erase(kept_.begin());
      address_space::release(oldest.base, oldest.reserved);
    }
    // Started before the range is shelved: a failure leaves the range with the caller.
    if (!releaser_) releaser_ = std::make_unique<WorkerThread>([this] { releaseWhenDue(); });
    kept_.push_back({range, Clock::now() + kPause});
    due_.notify_all();
  }

 private:
  // Runs for the rest of the process, asleep while nothing is kept.
  void releaseWhenDue() {
    std::unique_lock guard(lock_);
    for (;;) {
      if (kept_.empty()) {
        due_.wait(guard);
        continue;
      }
      const Clock::time_point first = kept_.front().until;  // kept in time order
      if (Clock::now() < first) {
        due_.wait_until(guard, first);
        continue;
      }
      const Range range = kept_.front().range;
      kept_.erase(kept_.begin());
      address_space::release(range.base, range.reserved);
    }
  }

  std::mutex lock_;
  std::condition_variable due_;
  std::vector<Kept> kept_;
  std::unique_ptr<WorkerThread> releaser_;
};

// Never destroyed: its thread may be asleep in it when the process ends.
Shelf& shelf() {
  static Shelf* const instance = new Shelf;
  return *instance;
}

}  // namespace

Range take(std::size_t bytes, std::size_t writable) noexcept {
  try {
    return shelf().take(bytes, writable);
  } catch (...) {
    return {};  // a lock that failed: a fresh range instead
  }
}

void keep(Range range) noexcept {
  try {
    shelf().keep(range);
  } catch (...) {
    address_space::release(range.base, range.reserved);  // no thread to release it later
  }
}

}  // namespace connector::kept_ranges
