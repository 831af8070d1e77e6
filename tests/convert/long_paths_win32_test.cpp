// Image and project paths whose full path in the workspace passes the old 260-character limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "convert/convert_request.hpp"
#include "convert/workspace.hpp"
#include "convert_test_support.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

// Either staged or refused with the message of a failed staging; no workspace stays behind.
TEST(LongImagePaths, AreStagedOrRefusedAndLeaveNoWorkspace) {
  test::PrivateTemp temp;
  const std::string folder(80, 'd');
  const std::string deep = "images/" + folder + "/" + folder + "/" + folder + "/a.png";
  ASSERT_GT(pathToUtf8(temp.path()).size() + deep.size(), 260u);
  const JsonValue body = test::requestBody(test::skeletonText("4.2"), "Hero", {{deep, "AAA"}});
  std::string error = "(no error)";
  {
    try {
      const ConvertRequest request = decodeConvertRequest(body);
      ASSERT_EQ(request.images.entryCount(), 1u);
    } catch (const std::exception& failure) {
      error = failure.what();
    }
  }
  EXPECT_TRUE(error == "(no error)" || error == "无法写入临时文件" || error == "无法创建临时子目录")
      << error;
  EXPECT_TRUE(temp.leftovers().empty());
}

// Spine's project is read under the name every staged file was written with. Wine takes a path
// past 260 characters in either form, but it tidies an ordinary path as Windows does: a folder
// name loses its final dot, and a device name stands for the device. Names that only the
// extended-length form reaches show which form the read takes.
TEST(LongProjectPaths, AreReadUnderTheNameTheyWereWrittenWith) {
  test::PrivateTemp temp;
  {
    const ConversionWorkspace workspace = ConversionWorkspace::create();
    const std::filesystem::path& directory = workspace.directory();
    const std::filesystem::path cases[] = {
        directory / L"folder." / L"Hero.spine",
        directory / L"nul.spine",
        directory / std::wstring(120, L'd') / (std::wstring(150, L'p') + L".spine"),
    };
    for (const std::filesystem::path& path : cases) {
      ConversionWorkspace::ensureDirectories(path.parent_path());
      ConversionWorkspace::writeFile(path, "project", "(write failed)");
      std::string bytes;
      EXPECT_TRUE(ConversionWorkspace::readFile(path, bytes)) << pathToUtf8(path);
      EXPECT_EQ(bytes, "project") << pathToUtf8(path);
    }
  }
  EXPECT_TRUE(temp.leftovers().empty());
}

}  // namespace
}  // namespace connector
