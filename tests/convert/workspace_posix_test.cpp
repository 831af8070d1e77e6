#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "convert/workspace.hpp"
#include "platform/text.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

TEST(ConversionWorkspacePosix, UnwritableTempFolderFailsAfterAllAttempts) {
  test::TempDirectory temp;
  std::filesystem::path folder = temp.path();
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(folder.c_str(), 0500), 0);
  } else if (std::filesystem::is_directory("/proc/self")) {
    folder = "/proc";  // permissions do not stop root, but nothing can be made in /proc
  } else {
    GTEST_SKIP() << "running as root without /proc: no folder refuses new directories";
  }
  test::ScopedEnvironment environment("TMPDIR", pathToUtf8(folder));
  try {
    ConversionWorkspace::create();
    ADD_FAILURE() << "created a workspace in " << folder;
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "无法创建连接器临时目录");
  }
  chmod(temp.path().c_str(), 0700);
}

}  // namespace
}  // namespace connector

namespace connector {
namespace {

// The open succeeds but the bytes never land: a short staged file must not pass unnoticed.
TEST(ConversionWorkspacePosix, FailedWriteReportsTheCallersMessage) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  try {
    ConversionWorkspace::writeFile("/dev/full", std::string(100'000, 'x'), "无法写入临时文件");
    ADD_FAILURE() << "a write to a full device passed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "无法写入临时文件");
  }
}

}  // namespace
}  // namespace connector
