// Size limits at their exact boundaries. Large by nature: each case holds up to 128 MiB of images.
#include <gtest/gtest.h>

#include <string>

#include "convert/convert_request.hpp"
#include "convert_test_support.hpp"
#include "support/base64_reference.hpp"

namespace connector {
namespace {

using test::errorOf;
using test::requestBody;
using test::skeletonText;

constexpr std::size_t kMiB = 1'048'576;

JsonValue imageElement(const std::string& path, const std::string& base64) {
  JsonValue element;
  element["path"] = path;
  element["dataBase64"] = base64;
  return element;
}

TEST(DecodeConvertRequestLimits, SkeletonTextIsMeasuredBeforeParsing) {
  test::PrivateTemp temp;
  // Exactly 64 MiB reaches the parser, which refuses text that is only white space.
  JsonValue body = requestBody(std::string(64 * kMiB, ' '));
  EXPECT_EQ(errorOf([&] { decodeConvertRequest(body); }), "Spine JSON 格式无效");
  body["skeletonJson"].stringIf()->push_back(' ');
  EXPECT_EQ(errorOf([&] { decodeConvertRequest(body); }), "Spine JSON 不能超过 64MB");

  // A valid document of exactly 64 MiB is accepted and staged unchanged.
  std::string text = skeletonText("4.2");
  text.insert(1, 64 * kMiB - text.size(), ' ');
  ASSERT_EQ(text.size(), 64 * kMiB);
  const ConvertRequest request = decodeConvertRequest(requestBody(text));
  EXPECT_EQ(std::filesystem::file_size(request.jsonPath), 64 * kMiB);
}

TEST(DecodeConvertRequestLimits, OneImage) {
  test::PrivateTemp temp;
  JsonValue body = requestBody(skeletonText("4.2"));
  body["images"] =
      JsonArray{imageElement("big.png", encodeBase64(std::string(32 * kMiB + 1, 'x')))};
  EXPECT_EQ(errorOf([&] { decodeConvertRequest(body); }), "单张图片不能超过 32MB");
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(DecodeConvertRequestLimits, AllImagesTogether) {
  test::PrivateTemp temp;
  // Four images of exactly 32 MiB each make exactly 128 MiB; one more byte is too much.
  const std::string base64 = encodeBase64(std::string(32 * kMiB, 'y'));
  JsonValue body = requestBody(skeletonText("4.2"));
  JsonArray images;
  for (int i = 0; i < 4; ++i)
    images.push_back(imageElement("i" + std::to_string(i) + ".png", base64));
  body["images"] = std::move(images);
  {
    const ConvertRequest request = decodeConvertRequest(body);
    ASSERT_EQ(request.images.entryCount(), 4u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(request.images.entryData(i).size(), 32 * kMiB);
    EXPECT_EQ(std::filesystem::file_size(request.workspace.directory() / "images" / "i3.png"),
              32 * kMiB);
  }
  body["images"].arrayIf()->push_back(imageElement("one-more.png", "QQ=="));
  EXPECT_EQ(errorOf([&] { decodeConvertRequest(body); }), "图片总大小不能超过 128MB");
  EXPECT_TRUE(temp.leftovers().empty());
}

}  // namespace
}  // namespace connector
