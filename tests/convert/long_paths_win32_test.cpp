// Image paths whose full path in the workspace passes the old 260-character limit.
#include <gtest/gtest.h>

#include <string>

#include "convert/convert_request.hpp"
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

}  // namespace
}  // namespace connector
