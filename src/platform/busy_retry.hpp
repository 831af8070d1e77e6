#pragma once
// Retrying an operation that another program may hold up for a moment: a virus scanner, a search
// indexer or a backup client that has a file open, or a second copy holding a lock.
#include <chrono>
#include <functional>

namespace connector {

// The outcome of one try.
enum class Attempt { Done, Busy, Failed };

struct RetryLimit {
  int tries;                        // at least one
  std::chrono::milliseconds pause;  // between two tries
};

// Tries until a try is not Busy or limit.tries tries are made, pausing between tries; returns the
// last try's outcome.
Attempt retryWhileBusy(const std::function<Attempt()>& attempt, RetryLimit limit,
                       const std::function<void(std::chrono::milliseconds)>& pause);
// The same, sleeping for the pauses.
Attempt retryWhileBusy(const std::function<Attempt()>& attempt, RetryLimit limit);

}  // namespace connector
