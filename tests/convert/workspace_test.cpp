#include "convert/workspace.hpp"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

#include "convert/project_name.hpp"
#include "convert/workspace_files.hpp"
#include "platform/text.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

namespace fs = std::filesystem;

// Points every variable the platforms read for their temporary folder at one place.
void redirectTemp(test::ScopedEnvironment& environment, const fs::path& where) {
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) environment.set(name, pathToUtf8(where));
}

bool isDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

TEST(ConversionWorkspace, CreatesUniqueNamedDirectoriesInTheTempFolder) {
  test::TempDirectory temp;
  test::ScopedEnvironment environment;
  redirectTemp(environment, temp.path());

  auto first = ConversionWorkspace::create();
  auto second = ConversionWorkspace::create();
  EXPECT_NE(first.directory(), second.directory());
  for (const auto* workspace : {&first, &second}) {
    EXPECT_TRUE(fs::is_directory(workspace->directory()));
    EXPECT_TRUE(fs::is_empty(workspace->directory()));
    EXPECT_TRUE(fs::equivalent(workspace->directory().parent_path(), temp.path()));
    // glimmer-<clock ns>-<random>
    const std::string name = pathToUtf8(workspace->directory().filename());
    ASSERT_TRUE(name.starts_with("glimmer-")) << name;
    const std::string rest = name.substr(8);
    const std::size_t dash = rest.find('-', 1);
    ASSERT_NE(dash, std::string::npos) << name;
    const std::string clock = rest.substr(0, dash);
    EXPECT_TRUE(isDigits(clock[0] == '-' ? clock.substr(1) : clock)) << name;
    EXPECT_TRUE(isDigits(rest.substr(dash + 1))) << name;
  }
}

TEST(ConversionWorkspace, RemovesNestedTreeAndMovedFromRemovesNothing) {
  test::TempDirectory temp;
  test::ScopedEnvironment environment;
  redirectTemp(environment, temp.path());

  fs::path directory;
  {
    auto workspace = ConversionWorkspace::create();
    directory = workspace.directory();
    ConversionWorkspace::ensureDirectories(directory / "a" / "b" / "c");
    ConversionWorkspace::ensureDirectories(directory / "a" / "b" / "c");  // existing is fine
    ConversionWorkspace::writeFile(directory / "a" / "b" / "c" / "deep.bin", "deep", "fail");
    ConversionWorkspace::writeFile(directory / "a" / "top.txt", "top", "fail");
    ConversionWorkspace::writeFile(directory / pathFromUtf8("特效.json"), "{}", "fail");
    ConversionWorkspace::ensureDirectories(directory / "empty");

    ConversionWorkspace moved(std::move(workspace));
    EXPECT_TRUE(workspace.directory().empty());
    {
      ConversionWorkspace target;
      target = std::move(moved);
      EXPECT_TRUE(moved.directory().empty());
      { ConversionWorkspace gone(std::move(moved)); }  // holds nothing, deletes nothing
      EXPECT_TRUE(fs::exists(directory / "a" / "b" / "c" / "deep.bin"));
      EXPECT_EQ(target.directory(), directory);
    }
    EXPECT_FALSE(fs::exists(directory));
  }
  EXPECT_TRUE(fs::is_empty(temp.path()));
}

TEST(ConversionWorkspace, WriteFileIsBinaryTruncatingAndReportsTheCallersMessage) {
  test::TempDirectory temp;
  const auto file = temp / "data.bin";
  ConversionWorkspace::writeFile(file, std::string("line\r\nnext\n\0end", 15), "fail");
  EXPECT_EQ(test::readWholeFile(file), std::string("line\r\nnext\n\0end", 15));
  ConversionWorkspace::writeFile(file, "x", "fail");
  EXPECT_EQ(test::readWholeFile(file), "x");

  try {
    ConversionWorkspace::writeFile(temp / "missing" / "f.bin", "x", "无法写入临时文件");
    ADD_FAILURE() << "wrote into a missing folder";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "无法写入临时文件");
  }
  // A folder in the way of a parent cannot be made.
  EXPECT_THROW(ConversionWorkspace::ensureDirectories(file / "below"), std::runtime_error);
}

// Restores the working directory when the test ends.
class ScopedCurrentPath {
 public:
  explicit ScopedCurrentPath(const fs::path& path) : old_(fs::current_path()) {
    fs::current_path(path);
  }
  ~ScopedCurrentPath() {
    std::error_code error;
    fs::current_path(old_, error);
  }

 private:
  fs::path old_;
};

// Spine runs inside the workspace and gets full paths in it: a relative temporary folder must
// not make them relative to Spine's own directory.
TEST(ConversionWorkspace, DirectoryIsAbsoluteUnderARelativeTempFolder) {
  test::TempDirectory temp;
  fs::create_directory(temp / "relative-temp");
  const ScopedCurrentPath here(temp.path());
  test::ScopedEnvironment environment;
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) environment.set(name, "relative-temp");
  auto workspace = ConversionWorkspace::create();
  EXPECT_TRUE(workspace.directory().is_absolute()) << pathToUtf8(workspace.directory());
  EXPECT_TRUE(fs::equivalent(workspace.directory().parent_path(), temp / "relative-temp"));
}

// Windows' standard library walks into junctions as if they were folders; the removal reads the
// attribute bits itself, and any reparse point is a link to it.
TEST(ConversionWorkspace, WindowsReparsePointsAreLinksToTheRemoval) {
  using workspace_files::EntryKind;
  using workspace_files::entryKindFromWindowsAttributes;
  EXPECT_EQ(entryKindFromWindowsAttributes(0x10 | 0x400),
            EntryKind::link);  // junction, folder link
  EXPECT_EQ(entryKindFromWindowsAttributes(0x20 | 0x400), EntryKind::link);  // file link
  EXPECT_EQ(entryKindFromWindowsAttributes(0x10), EntryKind::directory);
  EXPECT_EQ(entryKindFromWindowsAttributes(0x10 | 0x01), EntryKind::directory);  // read-only folder
  EXPECT_EQ(entryKindFromWindowsAttributes(0x20), EntryKind::other);
  EXPECT_EQ(entryKindFromWindowsAttributes(0x80), EntryKind::other);
}

// Windows takes a path past 260 characters only in the extended form, which it does not tidy.
TEST(ConversionWorkspace, WindowsPathsTakeTheExtendedLengthForm) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\Temp\\glimmer-1\\images/a.png", L"\\\\?\\C:\\Temp\\glimmer-1\\images\\a.png"},
      {L"c:/a//./b/../c/", L"\\\\?\\c:\\a\\c"},
      {L"C:\\", L"\\\\?\\C:\\"},
      {L"C:\\..\\..", L"\\\\?\\C:\\"},  // never above the drive
      {L"\\\\server\\share\\t\\x.png", L"\\\\?\\UNC\\server\\share\\t\\x.png"},
      {L"\\\\server\\share\\..\\..\\x", L"\\\\?\\UNC\\server\\share\\x"},  // nor above the share
      {L"\\\\?\\C:\\already", L"\\\\?\\C:\\already"},
      {L"\\\\.\\pipe\\name", L"\\\\.\\pipe\\name"},
      {L"relative\\a.png", L"relative\\a.png"},
      {L"C:drive-relative", L"C:drive-relative"},
      {L"\\rooted", L"\\rooted"},
      {L"", L""},
  };
  for (const auto& [path, extended] : cases) {
    EXPECT_EQ(workspace_files::extendedLengthPath(path), extended) << pathToUtf8(path);
  }
}

TEST(ConversionWorkspace, TempFolderThatIsNotAFolderFails) {
  test::TempDirectory temp;
  const auto file = temp / "not-a-folder";
  test::writeWholeFile(file, "x");
  test::ScopedEnvironment environment;
  redirectTemp(environment, file);
  try {
    ConversionWorkspace::create();
    ADD_FAILURE() << "created a workspace below a file";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()), "");
  }
}

TEST(SanitizeProjectName, Table) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "Glimmer"},
      {"   ", "Glimmer"},
      {"...", "Glimmer"},
      {" . ", "Glimmer"},
      {"a/b:c?d", "a_b_c_d"},
      {"\\*\"<>|", "______"},
      {"  hero  ", "hero"},
      {"..hero", "hero"},
      {"he\tro", "he_ro"},
      {"\thero\t", "hero"},
      {"\n\r\v\fhero", "hero"},
      {"特效", "特效"},
      {". a", " a"},
      {std::string("a\0b\x1f"
                   "c\x7f",
                   6),
       "a_b_c\x7f"},
      {"./hero", "_hero"},
      {"hero.", "hero."},
  };
  for (const auto& [input, expected] : cases)
    EXPECT_EQ(sanitizeProjectName(input), expected) << input;
}

}  // namespace
}  // namespace connector
