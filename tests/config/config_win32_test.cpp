// A settings file that another program holds open: without read sharing (a backup tool), or
// with every sharing (a scanner or an indexer).
#include "platform/win32.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

#include "config/config.hpp"
#include "platform/text.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

TEST(SettingsHeldOpen, ChangesAreRefusedAndTheFileStays) {
  test::TempDirectory dir;
  const std::filesystem::path file = dir / "config.json";
  test::ScopedEnvironment environment("SPINE_CONNECTOR_CONFIG", pathToUtf8(file));
  saveConfig({{"https://a.example", "https://b.example"}, "C:\\Spine\\Spine.com"});
  const std::string before = test::readWholeFile(file);
  {
    UniqueHandle holder(CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder) << GetLastError();
    EXPECT_TRUE(loadConfig().allowedOrigins.empty());  // readers degrade quietly
    try {
      addAllowedOrigin("https://new.example");
      ADD_FAILURE() << "the change was saved";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), "连接器配置文件无法读取，未保存：" + pathToUtf8(file));
    }
  }
  EXPECT_EQ(test::readWholeFile(file), before);
  addAllowedOrigin("https://new.example");  // once released, the change goes through
  EXPECT_EQ(
      loadConfig().allowedOrigins,
      (std::vector<std::string>{"https://a.example", "https://b.example", "https://new.example"}));
}

// Opens the file as scanners do: reading, with every sharing.
UniqueHandle openLikeAScanner(const std::filesystem::path& file) {
  return UniqueHandle(CreateFileW(file.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(SettingsHeldOpen, AChangeWaitsOutAReaderThatHoldsTheFileForAMoment) {
  test::TempDirectory dir;
  const std::filesystem::path file = dir / "config.json";
  test::ScopedEnvironment environment("SPINE_CONNECTOR_CONFIG", pathToUtf8(file));
  saveConfig({{"https://a.example"}, ""});
  std::promise<void> opened;
  std::thread scanner([&] {
    UniqueHandle holder = openLikeAScanner(file);
    opened.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  });
  opened.get_future().wait();
  EXPECT_NO_THROW(addAllowedOrigin("https://new.example"));
  scanner.join();
  EXPECT_EQ(loadConfig().allowedOrigins,
            (std::vector<std::string>{"https://a.example", "https://new.example"}));
}

TEST(SettingsHeldOpen, AReaderThatStaysGivesTheRenameErrorWithAReadableReason) {
  test::TempDirectory dir;
  const std::filesystem::path file = dir / "config.json";
  test::ScopedEnvironment environment("SPINE_CONNECTOR_CONFIG", pathToUtf8(file));
  saveConfig({{"https://a.example"}, ""});
  const std::string before = test::readWholeFile(file);
  UniqueHandle holder = openLikeAScanner(file);
  ASSERT_TRUE(holder) << GetLastError();
  const std::string prefix = "filesystem error: rename: ";
  const std::string paths =
      " [" + pathToUtf8(dir / "config.json.tmp") + "] [" + pathToUtf8(file) + "]";
  try {
    addAllowedOrigin("https://new.example");
    // A system that renames over open readers (NTFS on Windows 10) has nothing to report.
    EXPECT_NE(test::readWholeFile(file), before);
    return;
  } catch (const std::filesystem::filesystem_error& error) {
    const std::string what = error.what();
    ASSERT_GT(what.size(), prefix.size() + paths.size()) << what;
    EXPECT_EQ(what.substr(0, prefix.size()), prefix);
    EXPECT_EQ(what.substr(what.size() - paths.size()), paths);
    const std::string reason =
        what.substr(prefix.size(), what.size() - prefix.size() - paths.size());
    EXPECT_FALSE(reason.empty());
    EXPECT_TRUE(isValidUtf8(reason)) << reason;
    EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos) << reason;
  }
  holder.reset();
  EXPECT_EQ(test::readWholeFile(file), before);
}

}  // namespace
}  // namespace connector
