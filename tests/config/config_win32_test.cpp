// A settings file that another program holds open without read sharing (a backup tool).
#include "platform/win32.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

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
  EXPECT_EQ(loadConfig().allowedOrigins,
            (std::vector<std::string>{"https://a.example", "https://b.example", "https://new.example"}));
}

}  // namespace
}  // namespace connector
