#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/process_runner.hpp"
#include "support/child_process.hpp"
#include "support/spine_stub.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

using test::spineStubPath;

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

TEST(ProcessRunnerPosix, DescendantHoldingThePipeDoesNotHoldTheRunnerAndEndsWithIt) {
  KillOnExit sleeper;
  // The runner's own limit only keeps a faulty runner from hanging the test.
  const ProcessResult result =
      ProcessRunner(std::chrono::seconds(20)).run("/bin/sh", {"-c", "sleep 600 & echo $!"}, {});
  sleeper.pid = static_cast<pid_t>(std::stol(result.output.empty() ? "0" : result.output));
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0u);
  ASSERT_GT(sleeper.pid, 0);
  EXPECT_TRUE(test::processEndsWithin(std::to_string(sleeper.pid), std::chrono::seconds(5)));
}

TEST(ProcessRunnerPosix, OnlyStandardDescriptorsReachTheChild) {
  test::TempDirectory dir;
  const std::filesystem::path file = dir / "open.txt";
  test::writeWholeFile(file, "x");
  // Without close-on-exec, and far from the low numbers a child reuses.
  test::InheritableProbe low(file);
  ASSERT_TRUE(low.valid());
  const int high = ::fcntl(std::stoi(low.value()), F_DUPFD, 200);
  ASSERT_GE(high, 200);
  const ProcessResult result = ProcessRunner().run(
      spineStubPath(),
      {"--probe", low.value(), "--probe", std::to_string(high), "--import", "stub-handles"}, {});
  ::close(high);
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  const auto fds = result.output.find("fds=");
  ASSERT_NE(fds, std::string::npos) << result.output;
  const std::string list = result.output.substr(fds + 4, result.output.find('\n', fds) - fds - 4);
  for (const char* allowed : {"0,1,2", "1,2"}) {
    if (list == allowed) return;
  }
  ADD_FAILURE() << "the child holds descriptors " << list;
}

}  // namespace
}  // namespace connector
