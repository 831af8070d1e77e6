#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/locator_fixture.hpp"
#include "platform/spine_locator.hpp"
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

}  // namespace
}  // namespace connector
