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

namespace connector {
namespace {

namespace fs = std::filesystem;

// Restores the process's file-creation mask when the test ends.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return 07777;
  return info.st_mode & 07777;
}

// Other users of a shared /tmp must not read the images while Spine runs.
TEST(ConversionWorkspacePosix, FoldersAndFilesAreForThisUserAlone) {
  test::TempDirectory temp;
  test::ScopedEnvironment environment("TMPDIR", pathToUtf8(temp.path()));
  const ScopedUmask usual(022);
  auto workspace = ConversionWorkspace::create();
  const fs::path& directory = workspace.directory();
  EXPECT_EQ(modeOf(directory), 0700u);
  ConversionWorkspace::ensureDirectories(directory / "images" / "hero");
  EXPECT_EQ(modeOf(directory / "images"), 0700u);
  EXPECT_EQ(modeOf(directory / "images" / "hero"), 0700u);
  ConversionWorkspace::writeFile(directory / "images" / "hero" / "a.png", "A", "fail");
  ConversionWorkspace::writeFile(directory / "Hero.json", "{}", "fail");
  EXPECT_EQ(modeOf(directory / "images" / "hero" / "a.png"), 0600u);
  EXPECT_EQ(modeOf(directory / "Hero.json"), 0600u);
}

// Spine runs in the workspace and may leave links there; removal takes the links, never what
// they point to.
TEST(ConversionWorkspacePosix, RemovalDoesNotFollowLinksOutOfTheWorkspace) {
  test::TempDirectory temp;
  test::TempDirectory outside;
  test::writeWholeFile(outside / "keep.txt", "precious");
  fs::create_directory(outside / "folder");
  test::writeWholeFile(outside / "folder" / "deep.txt", "precious too");
  test::ScopedEnvironment environment("TMPDIR", pathToUtf8(temp.path()));
  fs::path directory;
  {
    auto workspace = ConversionWorkspace::create();
    directory = workspace.directory();
    fs::create_directory_symlink(outside.path(), directory / "folder-link");
    ConversionWorkspace::ensureDirectories(directory / "sub");
    fs::create_symlink(outside / "keep.txt", directory / "sub" / "file-link");
    fs::create_directory_symlink(outside / "folder", directory / "sub" / "nested-link");
    fs::create_symlink(outside / "gone", directory / "dangling");
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(directory)));
  EXPECT_EQ(test::readWholeFile(outside / "keep.txt"), "precious");
  EXPECT_EQ(test::readWholeFile(outside / "folder" / "deep.txt"), "precious too");
}

}  // namespace
}  // namespace connector
