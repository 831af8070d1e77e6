#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "config/config.hpp"
#include "platform/text.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

namespace fs = std::filesystem;

// A real full disk without privileges: the temporary name is made a symbolic link to /dev/full.
// Opening it for writing succeeds (the link is followed to the device), and every write fails
// with ENOSPC, exactly as on a file system that has run out of space.
TEST(SettingsFullDisk, WriteErrorRemovesTheTemporaryFileAndKeepsTheOldSettings) {
  if (!fs::is_character_file(u8"/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  test::TempDirectory dir;
  const fs::path file = dir / "config.json";
  const fs::path temporary = dir / "config.json.tmp";
  test::ScopedEnvironment environment("SPINE_CONNECTOR_CONFIG", pathToUtf8(file));
  saveConfig({{"https://kept.example"}, "/opt/spine/Spine.sh"});
  const std::string before = test::readWholeFile(file);

  fs::create_symlink(u8"/dev/full", temporary);
  try {
    saveConfig({{"https://kept.example", "https://lost.example"}, ""});
    ADD_FAILURE() << "saving onto a full disk succeeded";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "无法写入连接器配置");
  }
  EXPECT_EQ(test::readWholeFile(file), before);
  std::error_code ignored;
  EXPECT_FALSE(fs::exists(fs::symlink_status(temporary, ignored))) << "temporary file left behind";
  EXPECT_TRUE(fs::is_character_file(u8"/dev/full"));  // the link was removed, not its target
  EXPECT_EQ(loadConfig().allowedOrigins, std::vector<std::string>{"https://kept.example"});
}

// On Linux USERPROFILE is normally unset: the settings then live under HOME, not wherever the
// program happened to be started.
TEST(SettingsLocation, PosixFallsBackToHome) {
  test::TempDirectory dir;
  test::ScopedEnvironment environment("SPINE_CONNECTOR_CONFIG", std::nullopt);
  for (const char* name : {"APPDATA", "USERPROFILE", "HOMEDRIVE", "HOMEPATH"})
    environment.set(name, std::nullopt);
  environment.set("HOME", pathToUtf8(dir / "用户"));
  EXPECT_EQ(pathToUtf8(homeDirectory()), pathToUtf8(dir / "用户"));
  EXPECT_EQ(pathToUtf8(configFilePath()),
            pathToUtf8(dir / "用户" / "GlimmerConnector" / "config.json"));
}

}  // namespace
}  // namespace connector
