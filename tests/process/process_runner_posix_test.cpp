#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <string>

#include "platform/process_runner.hpp"

namespace connector {
namespace {

TEST(ProcessRunnerPosix, ExitStatusIsPassedOn) {
  struct Case {
    const char* script;
    std::uint32_t exitCode;
  };
  const Case cases[] = {
      {"exit 0", 0},
      {"exit 7", 7},
      {"kill -KILL $$", 128 + SIGKILL},  // a child killed by a signal is not a success
  };
  for (const auto& c : cases) {
    const ProcessResult result = ProcessRunner().run("/bin/sh", {"-c", c.script}, {});
    EXPECT_EQ(result.exitCode, c.exitCode) << c.script;
    EXPECT_FALSE(result.timedOut);
  }
}

// Kills a left-over process by its id when the test ends, on every path.
class KillOnExit {
 public:
  ~KillOnExit() {
    if (pid > 0) ::kill(pid, SIGKILL);
  }
  pid_t pid = 0;
};

TEST(ProcessRunnerPosix, DescendantHoldingThePipeDoesNotHoldTheRunner) {
  KillOnExit sleeper;
  // The runner's own limit only keeps a faulty runner from hanging the test.
  const ProcessResult result = ProcessRunner(std::chrono::seconds(20))
                                   .run("/bin/sh", {"-c", "sleep 600 & echo $!"}, {});
  sleeper.pid = static_cast<pid_t>(std::stol(result.output.empty() ? "0" : result.output));
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_GT(sleeper.pid, 0);
}

}  // namespace
}  // namespace connector
