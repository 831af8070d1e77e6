#include "platform/busy_retry.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace connector {
namespace {

struct RetryCase {
  const char* name;
  std::vector<Attempt> outcomes;  // what the tries give, in order
  int tries;                      // the limit
  Attempt expected;
  int expectedTries;
};

TEST(RetryWhileBusy, StopsAtTheFirstAnswerThatIsNotBusyOrAtTheLimit) {
  const std::vector<RetryCase> cases = {
      {"done at once", {Attempt::Done}, 5, Attempt::Done, 1},
      {"failed at once", {Attempt::Failed}, 5, Attempt::Failed, 1},
      {"busy, then done", {Attempt::Busy, Attempt::Busy, Attempt::Done}, 5, Attempt::Done, 3},
      {"busy, then failed", {Attempt::Busy, Attempt::Failed}, 5, Attempt::Failed, 2},
      {"busy to the limit",
       {Attempt::Busy, Attempt::Busy, Attempt::Busy, Attempt::Done},
       3,
       Attempt::Busy,
       3},
      {"done on the last try", {Attempt::Busy, Attempt::Busy, Attempt::Done}, 3, Attempt::Done, 3},
      {"one try only", {Attempt::Busy, Attempt::Done}, 1, Attempt::Busy, 1},
  };
  for (const RetryCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t next = 0;
    std::vector<std::chrono::milliseconds> pauses;
    const Attempt outcome = retryWhileBusy(
        [&] { return c.outcomes.at(next++); }, RetryLimit{c.tries, std::chrono::milliseconds(40)},
        [&](std::chrono::milliseconds pause) { pauses.push_back(pause); });
    EXPECT_EQ(outcome, c.expected);
    EXPECT_EQ(next, static_cast<std::size_t>(c.expectedTries));
    // A pause between each two tries, none after the last.
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(c.expectedTries - 1,
                                                             std::chrono::milliseconds(40)));
  }
}

}  // namespace
}  // namespace connector
