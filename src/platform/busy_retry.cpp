#include "platform/busy_retry.hpp"

#include <thread>

namespace connector {

Attempt retryWhileBusy(const std::function<Attempt()>& attempt, RetryLimit limit,
                       const std::function<void(std::chrono::milliseconds)>& pause) {
  Attempt outcome = attempt();
  for (int tried = 1; outcome == Attempt::Busy && tried < limit.tries; ++tried) {
    pause(limit.pause);
    outcome = attempt();
  }
  return outcome;
}

Attempt retryWhileBusy(const std::function<Attempt()>& attempt, RetryLimit limit) {
  return retryWhileBusy(attempt, limit,
                        [](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); });
}

}  // namespace connector
