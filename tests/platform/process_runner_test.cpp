#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/process_runner.hpp"
#include "platform/text.hpp"
#include "support/child_process.hpp"
#include "support/spine_stub.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

namespace fs = std::filesystem;
using test::spineLauncherPath;
using test::spineStubPath;

// The "cwd=" line of a project file written by the test launcher.
fs::path projectWorkingDirectory(const fs::path& project) {
  const std::string content = test::readWholeFile(project);
  const std::string key = "\ncwd=";
  const auto start = content.find(key);
  if (start == std::string::npos) return {};
  const auto end = content.find('\n', start + key.size());
  return pathFromUtf8(content.substr(start + key.size(), end - start - key.size()));
}

std::string startError(const std::string& executable) {
  try {
    ProcessRunner().run(executable, {"--import", "x"}, {});
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(started)";
}

TEST(ProcessRunner, ChildSeesEveryArgumentUnchanged) {
  const std::vector<std::string> arguments = {
      "",
      "plain",
      "has space",
      "dir\\",
      "C:\\Program Files\\",
      "a\\\"b",
      "a\\\\\"b",
      "\"",
      "\\\\server\\share",
      "\xE4\xB8\xAD\xE6\x96\x87 \xE5\x8F\x82\xE6\x95\xB0",
      "--import",
      "stub-args",
  };
  std::string expected;
  for (const auto& argument : arguments) expected += "arg=" + argument + "\n";
  for (const auto& program : {spineStubPath(), spineLauncherPath()}) {
    const ProcessResult result = ProcessRunner().run(program, arguments, {});
    EXPECT_EQ(result.exitCode, 0u) << program;
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.output.substr(0, expected.size()), expected) << program;
  }
}

TEST(ProcessRunner, ReportsExitCodeAndMergedOutput) {
  struct Case {
    std::string skeleton;
    std::uint32_t exitCode;
    std::string output;
  };
  const Case cases[] = {
      {"plain", 0, "Starting: Spine 3.8.43\r\nLicensed to: Test User\r\n"},
      {"stub-fail", 1, "Licensed to: Someone Else\r\nERROR: cannot import skeleton\r\n"},
      {"stub-fail-silent", 1, " \n\t\n"},
      // stderr shares the pipe with stdout, in the order the child wrote them
      {"stub-stderr", 0,
       "to-stdout\nto-stderr\nStarting: Spine 3.8.43\r\nLicensed to: Test User\r\n"},
  };
  for (const auto& c : cases) {
    const ProcessResult result =
        ProcessRunner().run(spineStubPath(), {"--update", "3.8.xx", "--import", c.skeleton}, {});
    EXPECT_EQ(result.exitCode, c.exitCode) << c.skeleton;
    EXPECT_FALSE(result.timedOut) << c.skeleton;
    EXPECT_EQ(result.output, c.output) << c.skeleton;
  }
}

TEST(ProcessRunner, OutputStopsGrowingAtTheCapWhileTheChildRunsOn) {
  test::TempDirectory dir;
  const fs::path project = dir / "huge.spine";
  const ProcessResult result = ProcessRunner().run(
      spineStubPath(), {"--output", pathToUtf8(project), "--import", "stub-huge-output"}, {});
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_GE(result.output.size(), ProcessRunner::kOutputCap);
  EXPECT_LE(result.output.size(), ProcessRunner::kOutputCap + ProcessRunner::kReadChunk - 1);
  EXPECT_EQ(result.output.find_first_not_of("x\n"), std::string::npos);
  // The launcher writes its project only after all 6 MiB went through the pipe.
  EXPECT_TRUE(fs::exists(project));
}

TEST(ProcessRunner, TimeOutTerminatesTheChild) {
  const ProcessResult result = ProcessRunner(std::chrono::milliseconds(300))
                                   .run(spineStubPath(), {"--import", "stub-hang"}, {});
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1u);
}

// The "grandchild=<pid>" line of the launcher's tree mode.
std::string grandchildOf(const std::string& output) {
  const std::string key = "grandchild=";
  const auto start = output.find(key);
  if (start == std::string::npos) return {};
  const auto end = output.find('\n', start);
  return output.substr(start + key.size(),
                       end == std::string::npos ? end : end - start - key.size());
}

// Ends a process the runner should have ended, whatever the test found.
class EndOnExit {
 public:
  ~EndOnExit() { test::killProcess(pid); }
  std::string pid;
};

TEST(ProcessRunner, TimeOutEndsTheWholeTreeAndKeepsTheOutputReadBefore) {
  EndOnExit grandchild;
  // Long enough for the launcher to start its grandchild even under an emulator.
  const ProcessResult result = ProcessRunner(std::chrono::seconds(3))
                                   .run(spineStubPath(), {"--import", "stub-tree-hang"}, {});
  grandchild.pid = grandchildOf(result.output);
  EXPECT_TRUE(result.timedOut);
  EXPECT_FALSE(result.cancelled);
  EXPECT_EQ(result.exitCode, 1u);
  ASSERT_FALSE(grandchild.pid.empty()) << result.output;
  EXPECT_TRUE(test::processEndsWithin(grandchild.pid, std::chrono::seconds(5)))
      << "grandchild " << grandchild.pid << " outlived the time-out";
}

TEST(ProcessRunner, WhatTheChildLeavesRunningEndsWithIt) {
  EndOnExit grandchild;
  const ProcessResult result =
      ProcessRunner().run(spineStubPath(), {"--import", "stub-tree-exit"}, {});
  grandchild.pid = grandchildOf(result.output);
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_FALSE(result.timedOut);
  ASSERT_FALSE(grandchild.pid.empty()) << result.output;
  EXPECT_TRUE(test::processEndsWithin(grandchild.pid, std::chrono::seconds(5)))
      << "grandchild " << grandchild.pid << " outlived the run";
}

TEST(ProcessRunner, StopRequestEndsTheWholeTreeAtOnce) {
  EndOnExit grandchild;
  std::stop_source stop;
  std::jthread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop.request_stop();
  });
  const auto start = std::chrono::steady_clock::now();
  // The real 180-second limit: only the stop request can end this run early.
  const ProcessResult result =
      ProcessRunner().run(spineStubPath(), {"--import", "stub-tree-hang"}, {}, stop.get_token());
  const auto elapsed = std::chrono::steady_clock::now() - start;
  grandchild.pid = grandchildOf(result.output);
  EXPECT_TRUE(result.cancelled);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1u);
  EXPECT_LT(elapsed, std::chrono::seconds(60));
  ASSERT_FALSE(grandchild.pid.empty()) << result.output;
  EXPECT_TRUE(test::processEndsWithin(grandchild.pid, std::chrono::seconds(5)))
      << "grandchild " << grandchild.pid << " outlived the stop";

  // Asked to stop before it starts: nothing is started at all.
  test::TempDirectory dir;
  const fs::path project = dir / "never.spine";
  const ProcessResult early =
      ProcessRunner().run(spineStubPath(), {"--output", pathToUtf8(project), "--import", "plain"},
                          {}, stop.get_token());
  EXPECT_TRUE(early.cancelled);
  EXPECT_TRUE(early.output.empty());
  EXPECT_FALSE(fs::exists(project));
}

TEST(ProcessRunner, InheritableHandleOfTheConnectorDoesNotReachTheChild) {
  test::TempDirectory dir;
  const fs::path file = dir / "settings-held-open.json";
  test::writeWholeFile(file, "{}\n");
  test::InheritableProbe probe(file);
  ASSERT_TRUE(probe.valid());
  const ProcessResult result = ProcessRunner().run(
      spineStubPath(), {"--probe", probe.value(), "--import", "stub-handles"}, {});
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_NE(result.output.find("probe " + probe.value() + "=closed\n"), std::string::npos)
      << result.output;
}

TEST(ProcessRunner, RelativeProgramIsFoundFromTheConnectorsDirectory) {
  test::TempDirectory dir;
  const fs::path relative = fs::relative(pathFromUtf8(spineStubPath()), fs::current_path());
  ASSERT_FALSE(relative.empty());
  ASSERT_TRUE(relative.is_relative());
  // The child runs elsewhere; the program is still the one next to the connector's directory.
  const ProcessResult result =
      ProcessRunner().run(pathToUtf8(relative), {"--import", "plain"}, dir.path());
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_TRUE(result.output.starts_with("Starting: Spine")) << result.output;
}

TEST(ProcessRunner, UnstartableProgramIsReported) {
  test::TempDirectory dir;
  const fs::path text = dir / "not-a-program.txt";
  test::writeWholeFile(text, "hello\n");
  const std::string message = "无法启动 Spine.com，请检查路径和权限";
  EXPECT_EQ(startError(pathToUtf8(dir / "missing" / "Spine.com")), message);
  EXPECT_EQ(startError(pathToUtf8(dir.path())), message);
  EXPECT_EQ(startError(pathToUtf8(text)), message);
}

TEST(ProcessRunner, ChildRunsInTheGivenWorkingDirectory) {
  test::TempDirectory dir;
  const fs::path projectHere = dir / "here.spine";

  // No directory given: the child inherits ours.
  ProcessResult result = ProcessRunner().run(
      spineStubPath(), {"--output", pathToUtf8(projectHere), "--import", "plain"}, {});
  ASSERT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_TRUE(fs::equivalent(projectWorkingDirectory(projectHere), fs::current_path()));

  // A Chinese directory name; a bare --output name lands inside it.
  const fs::path workspace = dir / "\xE5\xB7\xA5\xE4\xBD\x9C \xE7\x9B\xAE\xE5\xBD\x95";
  fs::create_directory(workspace);
  result = ProcessRunner().run(spineStubPath(),
                               {"--output", "\xE9\xA1\xB9\xE7\x9B\xAE.spine", "--import", "plain"},
                               workspace);
  ASSERT_EQ(result.exitCode, 0u) << result.output;
  const fs::path project = workspace / pathFromUtf8("\xE9\xA1\xB9\xE7\x9B\xAE.spine");
  ASSERT_TRUE(fs::exists(project));
  EXPECT_TRUE(fs::equivalent(projectWorkingDirectory(project), workspace));
}

TEST(ProcessRunner, EveryByteOfABurstArrivesAfterTheChildEnds) {
  // Racy by nature: the child exits while its last writes still sit in the pipe. Repeat.
  const std::size_t expectedSize = (1u << 20) + std::string("END-OF-BURST\n").size();
  for (int round = 0; round < 5; ++round) {
    const ProcessResult result =
        ProcessRunner().run(spineStubPath(), {"--import", "stub-burst"}, {});
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_EQ(result.output.size(), expectedSize) << "round " << round;
    EXPECT_TRUE(result.output.ends_with("\nEND-OF-BURST\n"));
  }
}

}  // namespace
}  // namespace connector
