#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "convert/locator_fixture.hpp"
#include "convert/spine_locator.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

namespace fs = std::filesystem;
using test::LocatorTest;

std::vector<std::string> candidateTexts() {
  std::vector<std::string> texts;
  for (const fs::path& candidate : locatorCandidates()) texts.push_back(pathToUtf8(candidate));
  return texts;
}

TEST(LocatorRules, JoinsWindowsPaths) {
  const struct {
    const char* folder;
    const char* joined;
  } cases[] = {
      {"C:\\Tools", "C:\\Tools\\Spine.com"},
      {"C:\\Bin\\", "C:\\Bin\\Spine.com"},
      {"C:/Bin/", "C:/Bin/Spine.com"},
      {"C:", "C:Spine.com"},
      {"d:", "d:Spine.com"},
      {"C:\\", "C:\\Spine.com"},
      {"Tools", "Tools\\Spine.com"},
      {"\\\\host\\share", "\\\\host\\share\\Spine.com"},
      {"C:\\程序", "C:\\程序\\Spine.com"},
      {"\"C:\\Tools", "\"C:\\Tools\\Spine.com"},
      {"CD:", "CD:\\Spine.com"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(joinWindowsPath(c.folder, "Spine.com"), c.joined) << c.folder;
}

TEST(LocatorRules, WindowsRefusesOnlyFoldersLinksAndJunctions) {
  const struct {
    std::uint32_t attributes;
    std::uint32_t tag;
    bool accepted;
  } cases[] = {
      {0x20, 0, true},                    // an archive-flagged file
      {0x80, 0, true},                    // a normal file
      {0x01 | 0x20, 0, true},             // read-only
      {0x10, 0, false},                   // a folder
      {0x20 | 0x400, 0xA000000C, false},  // a symbolic link
      {0x20 | 0x400, 0xA0000003, false},  // a junction
      {0x20 | 0x400, 0x80000013, true},   // deduplicated
      {0x20 | 0x400, 0x9000001A, true},   // cloud-synchronised placeholder
      {0x10 | 0x400, 0x9000001A, false},  // a cloud-synchronised folder is still a folder
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isLauncherFileAttributes(c.attributes, c.tag), c.accepted)
        << std::hex << c.attributes << " " << c.tag;
  }
}

// PATH folders whose probe could hang are left out; the drive type is asked only of a drive root.
TEST(LocatorRules, WindowsProbesNoShareAndNoDriveThatIsGoneOrRemote) {
  const std::map<std::string, unsigned> drives = {
      {"C:\\", 3},  // fixed
      {"E:\\", 2},  // removable, also without a disk: the error mode keeps it quiet
      {"F:\\", 5},  // optical
      {"N:\\", 4},  // mapped network drive
      {"Q:\\", 1},  // no such drive
      {"U:\\", 0},  // unknown
      {"", 3},      // the current directory's drive
  };
  const struct {
    const char* folder;
    bool probed;
    const char* root;  // the root asked about, or nullptr for none
  } cases[] = {
      {"C:\\Tools", true, "C:\\"},
      {"c:\\tools", true, "C:\\"},
      {"C:", true, "C:\\"},
      {"E:\\bin", true, "E:\\"},
      {"F:\\", true, "F:\\"},
      {"N:\\Spine", false, "N:\\"},
      {"Q:\\old", false, "Q:\\"},
      {"U:\\x", false, "U:\\"},
      {"\\\\server\\share\\bin", false, nullptr},
      {"//server/share", false, nullptr},
      {"\\\\?\\UNC\\server\\share", false, nullptr},
      {"\\\\?\\unc\\server\\share", false, nullptr},
      {"\\\\.\\pipe\\x", false, nullptr},
      {"\\\\?\\C:\\Tools", true, "C:\\"},
      {"\\\\?\\N:\\Tools", false, "N:\\"},
      {"bin", true, ""},
      {"\\bin", true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    std::vector<std::string> asked;
    const bool probed = isWindowsSearchFolderQuickToProbe(c.folder, [&](std::string_view root) {
      std::string upper(root);
      if (!upper.empty()) upper[0] = static_cast<char>(std::toupper(upper[0]));
      asked.push_back(upper);
      return drives.at(upper);
    });
    EXPECT_EQ(probed, c.probed);
    EXPECT_EQ(asked, c.root ? std::vector<std::string>{c.root} : std::vector<std::string>{});
  }
}

TEST(LocatorRules, JoinsPosixPaths) {
  const struct {
    const char* folder;
    const char* joined;
  } cases[] = {
      {"/opt/bin", "/opt/bin/Spine.sh"},
      {"/opt/bin/", "/opt/bin/Spine.sh"},
      {"/", "/Spine.sh"},
      {"bin", "bin/Spine.sh"},
      {"C:", "C:/Spine.sh"},
      {"a\\", "a\\/Spine.sh"},
  };
  for (const auto& c : cases) EXPECT_EQ(joinPosixPath(c.folder, "Spine.sh"), c.joined) << c.folder;
}

TEST(LocatorRules, SplitsSearchPaths) {
  using Folders = std::vector<std::string>;
  const struct {
    const char* value;
    char separator;
    Folders folders;
  } cases[] = {
      {";;\"C:\\Tools\";C:\\Bin\\;", ';', {"C:\\Tools", "C:\\Bin\\"}},
      {"", ';', {}},
      {";", ';', {}},
      {"\"\"", ';', {}},    // nothing but two quotes
      {"\"", ';', {"\""}},  // too short to be quoted
      {"\"\"\"", ';', {"\""}},
      {"\"C:\\Tools", ';', {"\"C:\\Tools"}},  // quoted on one side only
      {"C:\\Tools\"", ';', {"C:\\Tools\""}},
      {" a ; b ", ';', {" a ", " b "}},  // no trimming
      {"\"a;b\"", ';', {"\"a", "b\""}},  // quotes do not protect a separator
      {"C:\\a:b", ';', {"C:\\a:b"}},
      {"/usr/bin::\"/opt/x\":", ':', {"/usr/bin", "/opt/x"}},
      {"/usr/bin;/opt", ':', {"/usr/bin;/opt"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(splitSearchPath(c.value, c.separator), c.folders) << c.value;
}

TEST_F(LocatorTest, EnvironmentOverrideThenSavedChoice) {
  const fs::path override = makeFile(root_ / "override" / u8"custom-spine");
  const fs::path saved = makeFile(root_ / "saved" / u8"tool.exe");  // any name is accepted
  setPathVariable("SPINE_EXECUTABLE", override);
  saveChoice(saved);
  EXPECT_EQ(SpineLocator::locate(), pathToUtf8(override));

  setPathVariable("SPINE_EXECUTABLE", root_ / "override" / u8"missing");
  EXPECT_EQ(SpineLocator::locate(), pathToUtf8(saved));
}

TEST_F(LocatorTest, FallsThroughInOrder) {
  setPathVariable("SPINE_EXECUTABLE", root_ / "missing");
  setPathVariable("HOME", root_ / "install");
  setPathVariable("LOCALAPPDATA", root_ / "install");
  const fs::path pathFolder = root_ / "on-path";
  setPathVariable("PATH", pathFolder);
  const fs::path onPath = makeFile(launcherIn(pathFolder));

  // A saved folder, even one holding the launcher, is not completed with its name.
  const fs::path savedFolder = root_ / "saved-folder";
  makeFile(launcherIn(savedFolder));
  saveChoice(savedFolder);

  const std::vector<std::string> installed = installationCandidates();
  ASSERT_FALSE(installed.empty());
  const fs::path installation = makeFile(pathFromUtf8(installed.back()));
  EXPECT_EQ(SpineLocator::locate(), pathToUtf8(installation));

  fs::remove(installation);
  EXPECT_EQ(SpineLocator::locate(), pathToUtf8(onPath));

  fs::remove(onPath);
  EXPECT_EQ(SpineLocator::locate(), "");
}

TEST_F(LocatorTest, SearchPathQuotesAndEmptyPieces) {
  const fs::path tools = root_ / "Tools";
  const fs::path bin = root_ / "Bin";
  fs::create_directories(bin);
  const fs::path launcher = makeFile(launcherIn(tools));
  const std::string sep(1, searchPathSeparator());
  const std::string binWithSeparator = pathToUtf8(bin / u8"");  // trailing separator of this OS
  setVariable("PATH", sep + sep + "\"" + pathToUtf8(tools) + "\"" + sep + binWithSeparator + sep);

  EXPECT_EQ(candidateTexts(),
            (std::vector<std::string>{pathToUtf8(launcher),
                                      binWithSeparator + std::string(launcherName())}));
  EXPECT_EQ(SpineLocator::locate(), pathToUtf8(launcher));

  setVariable("PATH",
              "\"" + pathToUtf8(tools));  // opening quote only: kept, so the file is not found
  const std::string quoted = joinLauncherPath("\"" + pathToUtf8(tools), launcherName());
  EXPECT_EQ(candidateTexts(), std::vector<std::string>{quoted});
  EXPECT_EQ(SpineLocator::locate(), "");
}

TEST_F(LocatorTest, BrokenSettingsGiveNoSavedChoice) {
  test::writeWholeFile(root_ / "settings.json", "{\"spineExecutable\": ");
  const fs::path folder = root_ / "bin";
  setPathVariable("PATH", folder);
  const fs::path launcher = makeFile(launcherIn(folder));
  EXPECT_EQ(SpineLocator::locate(), pathToUtf8(launcher));
}

}  // namespace
}  // namespace connector
