#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "convert/locator_fixture.hpp"
#include "convert/spine_locator.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

namespace fs = std::filesystem;
using test::LocatorTest;

TEST_F(LocatorTest, PosixLooksInHomeAndPath) {
  // The Windows installation folders mean nothing here.
  makeFile(root_ / "pf" / u8"Spine" / u8"Spine.com");
  setPathVariable("ProgramFiles", root_ / "pf");
  setPathVariable("HOME", root_ / "home");
  setVariable("PATH", "/nonexistent-a:/nonexistent-b/");
  const std::vector<fs::path> expected{root_ / "home" / u8"Spine" / u8"Spine.sh",
                                       fs::path(u8"/nonexistent-a/Spine.sh"),
                                       fs::path(u8"/nonexistent-b/Spine.sh")};
  EXPECT_EQ(locatorCandidates(), expected);
  EXPECT_EQ(SpineLocator::locate(), "");
}

// Raw bytes that are not UTF-8 in any variable of the search end it, even when an earlier
// candidate exists: the list is built completely first.
TEST_F(LocatorTest, UndecodableVariableEndsTheSearch) {
  const fs::path launcher = makeFile(root_ / "spine");
  setPathVariable("SPINE_EXECUTABLE", launcher);
  ASSERT_EQ(SpineLocator::locate(), pathToUtf8(launcher));
  for (const char* name : {"HOME", "PATH"}) {
    SCOPED_TRACE(name);
    test::ScopedEnvironment broken(name, "/tmp/\xFF\xFE");
    EXPECT_EQ(SpineLocator::locate(), "");
  }
  EXPECT_EQ(SpineLocator::locate(), pathToUtf8(launcher));
}

TEST_F(LocatorTest, PosixRefusesNonRegularFiles) {
  EXPECT_FALSE(isLauncherFile(u8"/dev/null"));
  EXPECT_FALSE(isLauncherFile(root_.path()));
  EXPECT_FALSE(isLauncherFile(root_ / "missing"));
  EXPECT_TRUE(isLauncherFile(makeFile(root_ / "plain")));
}

// Only here: MinGW's standard library cannot create symbolic links, and links made with
// CreateSymbolicLinkW under Wine cannot be opened, so the Windows build has no way to make one.
TEST_F(LocatorTest, SymbolicLinksAreFollowed) {
  const fs::path target = makeFile(root_ / "real" / u8"spine-launcher");
  const fs::path good = root_ / "good";
  const fs::path dangling = root_ / "dangling";
  const fs::path toFolder = root_ / "to-folder";
  fs::create_directories(good);
  fs::create_directories(dangling);
  fs::create_directories(toFolder);
  fs::create_symlink(target, launcherIn(good));
  fs::create_symlink(root_ / "nowhere", launcherIn(dangling));
  fs::create_directory_symlink(root_ / "real", launcherIn(toFolder));

  EXPECT_TRUE(isLauncherFile(launcherIn(good)));
  EXPECT_FALSE(isLauncherFile(launcherIn(dangling)));
  EXPECT_FALSE(isLauncherFile(launcherIn(toFolder)));

  const std::string sep(1, searchPathSeparator());
  setVariable("PATH", pathToUtf8(dangling) + sep + pathToUtf8(toFolder) + sep + pathToUtf8(good));
  EXPECT_EQ(SpineLocator::locate(), pathToUtf8(launcherIn(good)));
}

}  // namespace
}  // namespace connector
