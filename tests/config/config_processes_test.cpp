// Two copies of the program saving one settings file: every save is serialised across processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/config.hpp"
#include "encoding/json_parser.hpp"
#include "platform/process_runner.hpp"
#include "platform/text.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

namespace fs = std::filesystem;

class SettingsAcrossProcesses : public ::testing::Test {
 protected:
  SettingsAcrossProcesses()
      : file_(dir_ / "config.json"), environment_("SPINE_CONNECTOR_CONFIG", pathToUtf8(file_)) {}

  static ProcessResult runWriter(const std::vector<std::string>& arguments,
                                 std::chrono::milliseconds timeout) {
    return ProcessRunner(timeout).run(GLIMMER_SETTINGS_WRITER, arguments, {});
  }

  test::TempDirectory dir_;
  fs::path file_;
  test::ScopedEnvironment environment_;  // inherited by the writers
};

TEST_F(SettingsAcrossProcesses, TwoWritersKeepEveryOrigin) {
  constexpr int kPerWriter = 60;
  saveConfig({{"https://first.example"}, "spine-path"});
  auto writer = [](const char* prefix) {
    return std::async(std::launch::async, [prefix] {
      return runWriter({"add", prefix, std::to_string(kPerWriter)}, std::chrono::minutes(3));
    });
  };
  auto a = writer("a");
  auto b = writer("b");
  for (auto* result : {&a, &b}) {
    const ProcessResult done = result->get();
    EXPECT_FALSE(done.timedOut);
    EXPECT_EQ(done.exitCode, 0u) << done.output;
  }

  const std::string text = test::readWholeFile(file_);
  EXPECT_NO_THROW(parseJson(text)) << text;
  const ConnectorConfig config = loadConfig();
  EXPECT_EQ(config.spineExecutable, "spine-path");
  EXPECT_EQ(config.allowedOrigins.size(), static_cast<std::size_t>(1 + 2 * kPerWriter));
  for (const char* prefix : {"a", "b"}) {
    for (int i = 0; i < kPerWriter; ++i) {
      const std::string origin =
          "https://" + std::string(prefix) + "-" + std::to_string(i) + ".example";
      const auto& origins = config.allowedOrigins;
      EXPECT_EQ(std::count(origins.begin(), origins.end(), origin), 1) << origin;
    }
  }
  EXPECT_FALSE(fs::exists(dir_ / "config.json.tmp"));
}

TEST_F(SettingsAcrossProcesses, AKilledHolderDoesNotBlockTheNextSave) {
  // The writer takes the lock and hangs until the time-out kills it.
  const ProcessResult held = runWriter({"hold"}, std::chrono::seconds(2));
  ASSERT_TRUE(held.timedOut);
  ASSERT_EQ(held.output.substr(0, 4), "held") << held.output;
  ASSERT_TRUE(fs::exists(dir_ / "config.json.lock"));

  // A lock that outlived its owner would hang this save; the wait only catches that hang.
  // Detached, so that a hang fails the test instead of blocking it.
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> save = done->get_future();
  std::thread([done] {
    try {
      addAllowedOrigin("https://after.example");
      done->set_value();
    } catch (...) {
      done->set_exception(std::current_exception());
    }
  }).detach();
  ASSERT_EQ(save.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "the save hangs";
  save.get();
  EXPECT_EQ(loadConfig().allowedOrigins, std::vector<std::string>{"https://after.example"});
}

}  // namespace
}  // namespace connector
