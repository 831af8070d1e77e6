#pragma once
// The pause between accept attempts that keep failing (no descriptors left, for example), so
// accepting threads do not spin; a success brings them back to full speed.
#include <algorithm>
#include <chrono>

namespace connector {

class AcceptBackoff {
 public:
  static constexpr std::chrono::milliseconds kFirst{5};
  static constexpr std::chrono::milliseconds kLongest{1000};

  // The pause after one more failure: kFirst, doubling, at most kLongest.
  std::chrono::milliseconds afterFailure() noexcept {
    const std::chrono::milliseconds pause = next_;
    next_ = std::min(next_ * 2, kLongest);
    return pause;
  }
  void afterSuccess() noexcept { next_ = kFirst; }

 private:
  std::chrono::milliseconds next_ = kFirst;
};

}  // namespace connector
