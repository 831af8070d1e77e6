// The rules that keep request paths and project names away from devices, streams and drives,
// the same on every platform.
#include "convert/request_rules.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "convert/convert_request.hpp"
#include "convert/project_name.hpp"
#include "convert_test_support.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

namespace fs = std::filesystem;
using test::errorOf;
using test::requestBody;
using test::skeletonText;

// Paths that Windows would turn into a device, a stream, another drive or a different name.
const std::string kUnsafePaths[] = {
    "1:x",
    "é:x",
    "\xEF\xBC\xA1:x",
    "a/C:x",
    "a.png:stream",
    "dir:x/a.png",
    "ab:",
    ":",
    "NUL",
    "nul",
    "CON",
    "PRN",
    "AUX",
    "aux.png",
    "nul.txt",
    "LPT9.png",
    "lpt1",
    "COM0",
    "Com9.tar.gz",
    "COM\xC2\xB9",
    "lpt\xC2\xB2.png",
    "COM\xC2\xB3.x",
    "CONIN$",
    "conout$.txt",
    "CON .png",
    "a/NUL/b.png",
    "sub\\com1\\a.png",
    "a.",
    "a ",
    "dir./a.png",
    "dir /a.png",
    "a/b.png.",
    "a/b.png ",
    "NUL/../a.png",
    "x:/..",
};

TEST(RequestPathRule, RefusesDevicesStreamsDrivesAndStrippedEndings) {
  for (const std::string& path : kUnsafePaths) {
    EXPECT_EQ(errorOf([&] { checkRelativePath(path, "图片"); }), "图片路径无效") << path;
  }
  // The drive letter keeps its own message; everything else about a colon is an invalid path.
  EXPECT_EQ(errorOf([&] { checkRelativePath("C:x", "L"); }), "L必须使用相对路径");
  EXPECT_EQ(errorOf([&] { checkRelativePath("z:/a:b", "L"); }), "L必须使用相对路径");

  // Names that only look like devices, and dots and spaces inside a name, are files.
  const std::pair<const char*, const char*> accepted[] = {
      {"CONSOLE", "CONSOLE"},
      {"NULL.png", "NULL.png"},
      {"COM10", "COM10"},
      {"LPT", "LPT"},
      {"COM", "COM"},
      {"xCON", "xCON"},
      {"CON_", "CON_"},
      {"a.b c.png", "a.b c.png"},
      {".hidden", ".hidden"},
      {"COM\xC2\xB9"
       "0",
       "COM\xC2\xB9"
       "0"},
      {"COM\xC2\xB4", "COM\xC2\xB4"},
      {" a", " a"},
      {"a/./b", "a/b"},
      {"a/b/..", "a/"},
      {"sub\\a.png", "sub/a.png"},
  };
  for (const auto& [input, expected] : accepted) {
    EXPECT_EQ(checkRelativePath(input, "L"), expected) << input;
  }
}

TEST(RequestPathRule, DeviceNameLength) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"CON", 3},
      {"con.json", 3},
      {"Con  .x", 3},
      {"CONIN$", 6},
      {"conout$.a.b", 7},
      {"LPT0", 4},
      {"com9.zip", 4},
      {"COM\xC2\xB2.x", 5},
      {"CONX", 0},
      {"CO", 0},
      {"", 0},
      {".CON", 0},
      {"COM\xC2\xB2\xC2\xB2", 0},
      {"LPTa", 0},
      {"NUL_", 0},
  };
  for (const auto& [element, length] : cases)
    EXPECT_EQ(deviceNameLength(element), length) << element;
}

TEST(SanitizeProjectName, DeviceNamesGetAnUnderscore) {
  const std::pair<std::string, std::string> cases[] = {
      {"CON", "CON_"},
      {"nul", "nul_"},
      {"  AUX  ", "AUX_"},
      {"..PRN", "PRN_"},
      {"com1", "com1_"},
      {"LPT9.png", "LPT9_.png"},
      {"con.tar.gz", "con_.tar.gz"},
      {"CON .x", "CON_ .x"},
      {"COM\xC2\xB9", "COM\xC2\xB9_"},
      {"CONIN$", "CONIN$_"},
      {"CON:", "CON_"},
      {"CONSOLE", "CONSOLE"},
      {"NUL_", "NUL_"},
      {"a:b", "a_b"},
      {"hero.", "hero."},
  };
  for (const auto& [input, expected] : cases)
    EXPECT_EQ(sanitizeProjectName(input), expected) << input;
}

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string name = pathToUtf8(entry.path().lexically_relative(folder));
    std::replace(name.begin(), name.end(), '\\', '/');
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A conversion with such names writes only inside its workspace: refused paths before anything
// is written, device project names as plain files.
TEST(RequestPathRule, AConversionWithDeviceNamesStaysInItsWorkspace) {
  test::PrivateTemp temp;
  const fs::path cwd = fs::current_path();
  const std::vector<std::string> cwdBefore = namesIn(cwd);
  for (const std::string& path : kUnsafePaths) {
    EXPECT_EQ(errorOf([&] {
                decodeConvertRequest(requestBody(skeletonText("4.2"), "CON", {{path, "A"}}));
              }),
              "图片路径无效")
        << path;
    EXPECT_EQ(
        errorOf([&] { decodeConvertRequest(requestBody(skeletonText("4.2", path), "Hero")); }),
        "Spine 图片路径无效")
        << path;
  }
  EXPECT_TRUE(temp.leftovers().empty());
  {
    const ConvertRequest request = decodeConvertRequest(
        requestBody(skeletonText("4.2"), "CON", {{"a.png", "A"}, {"sub/b.png", "B"}}));
    EXPECT_EQ(request.projectName, "CON_");
    EXPECT_EQ(request.jsonPath, request.workspace.directory() / "CON_.json");
    EXPECT_EQ(request.projectPath, request.workspace.directory() / "CON_.spine");
    EXPECT_EQ(temp.leftovers(),
              std::vector<std::string>{pathToUtf8(request.workspace.directory().filename())});
    EXPECT_EQ(namesIn(request.workspace.directory()),
              (std::vector<std::string>{"CON_.json", "images", "images/a.png", "images/sub",
                                        "images/sub/b.png"}));
    EXPECT_EQ(test::readWholeFile(request.workspace.directory() / "images" / "sub" / "b.png"), "B");
  }
  EXPECT_TRUE(temp.leftovers().empty());
  EXPECT_EQ(namesIn(cwd), cwdBefore);
}

}  // namespace
}  // namespace connector
