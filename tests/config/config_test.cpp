#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/config.hpp"
#include "platform/file_lock.hpp"
#include "platform/text.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

namespace fs = std::filesystem;
using test::readWholeFile;
using test::ScopedEnvironment;
using test::TempDirectory;
using test::writeWholeFile;

// Settings in a private folder, named through SPINE_CONNECTOR_CONFIG.
class SettingsFile : public ::testing::Test {
 protected:
  SettingsFile()
      : file_(dir_ / "config.json"), environment_("SPINE_CONNECTOR_CONFIG", pathToUtf8(file_)) {}
  fs::path temporary() const { return dir_ / "config.json.tmp"; }

  TempDirectory dir_;
  fs::path file_;
  ScopedEnvironment environment_;
};

TEST_F(SettingsFile, WritesTheExactLayout) {
  saveConfig(
      {{"https://a.example", "http://localhost:8080"}, "C:\\Program Files\\Spine\\Spine.com"});
  EXPECT_EQ(readWholeFile(file_),
            "{\n"
            "  \"allowedOrigins\": [\n"
            "    \"https://a.example\",\n"
            "    \"http://localhost:8080\"\n"
            "  ],\n"
            "  \"spineExecutable\": \"C:\\\\Program Files\\\\Spine\\\\Spine.com\"\n"
            "}\n");
  EXPECT_FALSE(fs::exists(temporary()));

  saveConfig({});
  EXPECT_EQ(readWholeFile(file_), "{\n  \"allowedOrigins\": [],\n  \"spineExecutable\": \"\"\n}\n");

  const ConnectorConfig written{{"https://b.example", "https://b.example", "http://[::1]:1"},
                                "/opt/spine/Spine.sh"};
  saveConfig(written);
  const ConnectorConfig read = loadConfig();
  EXPECT_EQ(read.allowedOrigins, written.allowedOrigins);
  EXPECT_EQ(read.spineExecutable, written.spineExecutable);
}

TEST_F(SettingsFile, LoadingDegradesQuietly) {
  struct Case {
    const char* name;
    std::string bytes;  // "<none>" for no file at all
    std::vector<std::string> origins;
    std::string executable;
  };
  const Case cases[] = {
      {"missing", "<none>", {}, ""},
      {"empty", "", {}, ""},
      {"not JSON", "allowedOrigins = a", {}, ""},
      {"byte-order mark",
       "\xEF\xBB\xBF{\"allowedOrigins\":[\"a\"],\"spineExecutable\":\"x\"}",
       {},
       ""},
      {"mixed array",
       "{\"allowedOrigins\":[\"a\",1,\"b\"],\"spineExecutable\":\"x\"}",
       {"a", "b"},
       "x"},
      {"origins as a string", "{\"allowedOrigins\":\"a\",\"spineExecutable\":\"x\"}", {}, "x"},
      {"path as a number", "{\"allowedOrigins\":[\"a\"],\"spineExecutable\":5}", {"a"}, ""},
      {"not an object", "[\"a\"]", {}, ""},
      {"duplicates and extras",
       "{\"allowedOrigins\":[\"a\",\"a\"],\"other\":true}",
       {"a", "a"},
       ""},
      {"truncated", "{\"allowedOrigins\":[\"a\"", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(file_);
    if (c.bytes != "<none>") writeWholeFile(file_, c.bytes);
    const ConnectorConfig config = loadConfig();
    EXPECT_EQ(config.allowedOrigins, c.origins);
    EXPECT_EQ(config.spineExecutable, c.executable);
  }
  fs::remove(file_);
  fs::create_directory(file_);  // a folder where the file should be
  EXPECT_TRUE(loadConfig().allowedOrigins.empty());
}

TEST_F(SettingsFile, FailedOpenKeepsTheOldSettings) {
  saveConfig({{"https://kept.example"}, ""});
  const std::string before = readWholeFile(file_);
  fs::create_directory(temporary());  // the temporary name cannot be opened as a file
  try {
    saveConfig({{"https://lost.example"}, ""});
    ADD_FAILURE() << "saving succeeded";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "无法写入连接器配置");
  }
  EXPECT_EQ(readWholeFile(file_), before);
}

TEST_F(SettingsFile, FailedRenameNamesBothPathsAndKeepsTheTemporaryFile) {
  fs::create_directories(file_ / u8"occupied");  // a non-empty folder cannot be replaced by a file
  try {
    saveConfig({{"https://a.example"}, ""});
    ADD_FAILURE() << "saving succeeded";
  } catch (const fs::filesystem_error& error) {
    EXPECT_EQ(error.path1(), temporary());
    EXPECT_EQ(error.path2(), file_);
  }
  EXPECT_TRUE(fs::is_regular_file(temporary()));
}

// A second copy that hangs while saving keeps the lock file locked; this copy gives up after a few
// seconds with its own message instead of freezing the window and every health request.
TEST_F(SettingsFile, AChangeGivesUpOnALockAnotherHolderKeeps) {
  saveConfig({{"https://kept.example"}, ""});
  const std::string before = readWholeFile(file_);
  std::optional<FileLock> hung;
  ASSERT_EQ(FileLock::acquire(dir_ / "config.json.lock", FileLock::Mode::Exclusive, false,
                              {1, std::chrono::milliseconds(0)}, hung),
            Attempt::Done);
  try {
    addAllowedOrigin("https://new.example");
    ADD_FAILURE() << "saving succeeded";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()),
              "连接器配置文件正被另一个程序锁定，未保存：" + pathToUtf8(file_));
  }
  EXPECT_EQ(readWholeFile(file_), before);
  hung.reset();
  addAllowedOrigin("https://new.example");
  EXPECT_EQ(loadConfig().allowedOrigins.size(), 2u);
}

TEST_F(SettingsFile, AddingOriginsAppendsOnlyNewOnes) {
  // Compact text that a save would rewrite with indentation: any write shows up.
  const std::string compact =
      "{\"allowedOrigins\":[\"https://a.example\"],\"spineExecutable\":\"s\"}";
  writeWholeFile(file_, compact);
  addAllowedOrigin("https://a.example");
  EXPECT_EQ(readWholeFile(file_), compact);

  addAllowedOrigin("https://b.example");
  addAllowedOrigin("https://A.example");  // compared byte for byte
  const ConnectorConfig config = loadConfig();
  EXPECT_EQ(
      config.allowedOrigins,
      (std::vector<std::string>{"https://a.example", "https://b.example", "https://A.example"}));
  EXPECT_EQ(config.spineExecutable, "s");
}

// What could not be read is never replaced by what was not read: pairing and the window's save
// refuse, name the file, and leave it byte for byte; readers still degrade quietly.
TEST_F(SettingsFile, AnEmptyFileIsNoSettingsForAChange) {
  for (const std::string& bytes : {std::string(), std::string(" \r\n\t\n")}) {
    writeWholeFile(file_, bytes);
    addAllowedOrigin("https://new.example");
    updateConfig([](ConnectorConfig& config) {
      config.spineExecutable = "chosen";
      return true;
    });
    const ConnectorConfig saved = loadConfig();
    EXPECT_EQ(saved.allowedOrigins, std::vector<std::string>{"https://new.example"});
    EXPECT_EQ(saved.spineExecutable, "chosen");
  }
}

TEST_F(SettingsFile, ChangesRefuseAFileThatCannotBeRead) {
  const std::string expected = "连接器配置文件无法读取，未保存：" + pathToUtf8(file_);
  const std::string good =
      "{\"allowedOrigins\":[\"https://a.example\",\"https://b.example\"],"
      "\"spineExecutable\":\"/opt/spine/Spine.sh\"}";
  const std::pair<const char*, std::string> cases[] = {
      {"byte-order mark", "\xEF\xBB\xBF" + good},
      {"syntax error", "{\"allowedOrigins\":[\"https://a.example\",],\"spineExecutable\":\"\"}"},
      {"truncated", good.substr(0, good.size() - 1)},
      {"JSON array", "[\"https://a.example\"]"},
      {"JSON string", "\"https://a.example\""},
  };
  const auto expectRefused = [&](const std::function<void()>& change) {
    try {
      change();
      ADD_FAILURE() << "the change was saved";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), expected);
    }
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    writeWholeFile(file_, bytes);
    expectRefused([] { addAllowedOrigin("https://new.example"); });
    expectRefused([] {
      updateConfig([](ConnectorConfig& config) {
        config.spineExecutable = "chosen";
        return true;
      });
    });
    EXPECT_EQ(readWholeFile(file_), bytes);
    EXPECT_FALSE(fs::exists(temporary()));
    EXPECT_TRUE(loadConfig().allowedOrigins.empty());  // reading stays quiet
  }

  fs::remove(file_);
  fs::create_directories(file_ / "inside");  // a folder in the file's place
  expectRefused([] { addAllowedOrigin("https://new.example"); });
  EXPECT_TRUE(fs::is_directory(file_ / "inside"));
  EXPECT_TRUE(loadConfig().allowedOrigins.empty());

  // No file at all is not a failure: the change starts from the empty record.
  fs::remove_all(file_);
  addAllowedOrigin("https://new.example");
  EXPECT_EQ(loadConfig().allowedOrigins, std::vector<std::string>{"https://new.example"});
  // A change that changes nothing writes nothing.
  const std::string saved = readWholeFile(file_);
  updateConfig([](ConnectorConfig& config) {
    config.spineExecutable = "unsaved";
    return false;
  });
  EXPECT_EQ(readWholeFile(file_), saved);
}

TEST_F(SettingsFile, ConcurrentAddsKeepEveryOrigin) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 5;
  std::vector<std::exception_ptr> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      try {
        for (int k = 0; k < kPerThread; ++k) {
          addAllowedOrigin("https://t" + std::to_string(t) + "-" + std::to_string(k) + ".example");
        }
      } catch (...) {
        failures[t] = std::current_exception();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& failure : failures) EXPECT_FALSE(failure) << "a save failed";

  const ConnectorConfig config = loadConfig();
  EXPECT_EQ(config.allowedOrigins.size(), static_cast<std::size_t>(kThreads * kPerThread));
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kPerThread; ++k) {
      const std::string origin =
          "https://t" + std::to_string(t) + "-" + std::to_string(k) + ".example";
      const auto& origins = config.allowedOrigins;
      EXPECT_EQ(std::count(origins.begin(), origins.end(), origin), 1) << origin;
    }
  }
  EXPECT_FALSE(fs::exists(temporary()));
}

TEST(SettingsLocation, FollowsTheEnvironment) {
  TempDirectory dir;
  const std::string root = pathToUtf8(dir.path());
  const std::string separator(1, static_cast<char>(fs::path::preferred_separator));
  const fs::path settings = fs::path(u8"GlimmerConnector") / u8"config.json";
  struct Case {
    const char* name;
    std::optional<std::string> config, appData, profile, drive, homePath;
    fs::path home, file;
  };
  const fs::path cwd = fs::current_path();
  const Case cases[] = {
      {"override", root + separator + "my.json", root, root, std::nullopt, std::nullopt, dir.path(),
       dir / "my.json"},
      {"application data", std::nullopt, root + separator + "应用数据", "", std::nullopt,
       std::nullopt, cwd, dir / "应用数据" / settings},
      {"profile", "", "", root + separator + "张三", "x:", "y", dir / "张三",
       dir / "张三" / settings},
      {"drive and path", std::nullopt, std::nullopt, std::nullopt, root, separator + "主目录",
       dir / "主目录", dir / "主目录" / settings},
      {"nothing", std::nullopt, std::nullopt, "", "", std::nullopt, cwd, cwd / settings},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnvironment environment;
    environment.set("SPINE_CONNECTOR_CONFIG", c.config);
    environment.set("APPDATA", c.appData);
    environment.set("USERPROFILE", c.profile);
    environment.set("HOMEDRIVE", c.drive);
    environment.set("HOMEPATH", c.homePath);
    environment.set("HOME", std::nullopt);
    EXPECT_EQ(pathToUtf8(homeDirectory()), pathToUtf8(c.home));
    EXPECT_EQ(pathToUtf8(configFilePath()), pathToUtf8(c.file));
  }
}

TEST(SettingsLocation, FirstSaveCreatesTheFoldersOfAChinesePath) {
  TempDirectory dir;
  const fs::path appData = dir / "用户 张三" / u8"AppData";
  ScopedEnvironment environment("SPINE_CONNECTOR_CONFIG", std::nullopt);
  environment.set("APPDATA", pathToUtf8(appData));
  EXPECT_TRUE(loadConfig().allowedOrigins.empty());
  saveConfig({{"https://例子.example"}, "D:\\软件\\Spine\\Spine.com"});
  const fs::path file = appData / u8"GlimmerConnector" / u8"config.json";
  ASSERT_TRUE(fs::is_regular_file(file));
  const ConnectorConfig config = loadConfig();
  EXPECT_EQ(config.allowedOrigins, std::vector<std::string>{"https://例子.example"});
  EXPECT_EQ(config.spineExecutable, "D:\\软件\\Spine\\Spine.com");
}

TEST(SettingsLocation, BareFileNameIsSavedInTheWorkingDirectory) {
  TempDirectory dir;
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  ScopedEnvironment environment("SPINE_CONNECTOR_CONFIG", "glimmer-settings.json");
  try {
    saveConfig({{"https://bare.example"}, ""});
  } catch (...) {
    fs::current_path(previous);
    throw;
  }
  const std::vector<std::string> origins = loadConfig().allowedOrigins;
  fs::current_path(previous);
  EXPECT_TRUE(fs::is_regular_file(dir / "glimmer-settings.json"));
  EXPECT_FALSE(fs::exists(dir / "glimmer-settings.json.tmp"));
  EXPECT_EQ(origins, std::vector<std::string>{"https://bare.example"});
}

}  // namespace
}  // namespace connector
