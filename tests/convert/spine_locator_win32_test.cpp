#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "convert/locator_fixture.hpp"
#include "convert/spine_locator.hpp"
#include "platform/text.hpp"
#include "platform/win32.hpp"

namespace connector {
namespace {

namespace fs = std::filesystem;
using test::LocatorTest;

TEST_F(LocatorTest, NineInstallationCandidatesInOrder) {
  const std::string pf = pathToUtf8(root_ / "pf");
  const std::string x86 = pathToUtf8(root_ / "x86") + "\\";
  const std::string local = pathToUtf8(root_ / "local");
  setVariable("ProgramFiles", pf);
  setVariable("ProgramFiles(x86)", x86);
  setVariable("LOCALAPPDATA", local);
  std::vector<std::string> expected;
  for (const std::string& base : {pf + "\\", x86, local + "\\"}) {
    expected.push_back(base + "Spine\\Spine.com");
    expected.push_back(base + "Esoteric Software\\Spine\\Spine.com");
    expected.push_back(base + "Programs\\Spine\\Spine.com");
  }
  EXPECT_EQ(installationCandidates(), expected);

  // Without ProgramFiles only its three candidates go; the others are still searched.
  setVariable("ProgramFiles", std::nullopt);
  expected.erase(expected.begin(), expected.begin() + 3);
  EXPECT_EQ(installationCandidates(), expected);
  const fs::path launcher = makeFile(root_ / "local" / u8"Programs" / u8"Spine" / u8"Spine.com");
  makeFile(root_ / "pf" / u8"Spine" / u8"Spine.com");  // would win if ProgramFiles were still read
  EXPECT_EQ(SpineLocator::locate(), pathToUtf8(launcher));
}

TEST(LocatorRulesWin32, JoinAgreesWithThePlatformPaths) {
  for (const char* folder :
       {"C:\\Tools", "C:\\Bin\\", "C:/Bin/", "C:", "C:\\", "Tools", "\\\\host\\share"}) {
    const std::string platformJoin = pathToUtf8(pathFromUtf8(folder) / u8"Spine.com");
    EXPECT_EQ(joinLauncherPath(folder, "Spine.com"), platformJoin) << folder;
  }
}

// A lone surrogate cannot be decoded as Unicode: such a value anywhere in the search ends it,
// even when an earlier candidate exists, because the list is built completely first.
TEST_F(LocatorTest, UndecodableVariableEndsTheSearch) {
  const fs::path launcher = makeFile(root_ / "Spine.com");
  setPathVariable("SPINE_EXECUTABLE", launcher);
  ASSERT_EQ(SpineLocator::locate(), pathToUtf8(launcher));
  for (const char* name : {"LOCALAPPDATA", "PATH"}) {
    SCOPED_TRACE(name);
    test::ScopedEnvironment restore(name, std::nullopt);
    const wchar_t broken[] = {L'C', L':', L'\\', static_cast<wchar_t>(0xD800), L'x', 0};
    ASSERT_TRUE(SetEnvironmentVariableW(toWide(name).c_str(), broken));
    EXPECT_EQ(SpineLocator::locate(), "");
  }
  EXPECT_EQ(SpineLocator::locate(), pathToUtf8(launcher));
}

TEST_F(LocatorTest, Win32RefusesFoldersAndDevices) {
  EXPECT_FALSE(isLauncherFile(root_.path()));
  EXPECT_FALSE(isLauncherFile(root_ / "missing"));
  EXPECT_FALSE(isLauncherFile(u8"NUL"));
  EXPECT_TRUE(isLauncherFile(makeFile(root_ / "Spine.com")));
}

// A share or a drive that is gone in PATH is never probed: either could hold every health
// request and the window for a minute.
TEST_F(LocatorTest, PathSharesAndMissingDrivesAreLeftOut) {
  ASSERT_EQ(GetDriveTypeW(L"Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << "Q: exists here";
  const std::string local = pathToUtf8(root_ / "bin");
  setVariable("PATH", "\\\\nowhere.invalid\\share;Q:\\gone;" + local +
                          ";\\\\?\\UNC\\nowhere.invalid\\share");
  EXPECT_EQ(locatorCandidates(), std::vector<fs::path>{pathFromUtf8(local + "\\Spine.com")});
}

}  // namespace
}  // namespace connector
