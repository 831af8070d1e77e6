// Requests large enough for the images to be staged on several threads: the reply must be what
// staging one image after the other gives, the error of the first failing image included.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "convert/convert_request.hpp"
#include "convert/image_staging.hpp"
#include "convert/request_rules.hpp"
#include "convert/store_zip_builder.hpp"
#include "convert_test_support.hpp"
#include "platform/text.hpp"
#include "support/base64_reference.hpp"
#include "support/store_zip_writer.hpp"

namespace connector {
namespace {

using test::errorOf;
using test::requestBody;
using test::skeletonText;

constexpr std::size_t kMiB = 1'048'576;

std::string randomBytes(std::mt19937& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

std::size_t decodedBytes(const std::vector<test::RequestImage>& images) {
  std::size_t total = 0;
  for (const test::RequestImage& image : images) total += image.bytes.size();
  return total;
}

// Eight images of 512 KiB, each its own bytes: enough to share the work.
std::vector<test::RequestImage> sharedImages() {
  std::mt19937 random(11);
  std::vector<test::RequestImage> images;
  for (int i = 0; i < 8; ++i)
    images.push_back({"img" + std::to_string(i) + ".png", randomBytes(random, kMiB / 2)});
  EXPECT_TRUE(worthSharing(images.size(), decodedBytes(images)));
  return images;
}

JsonValue& imageAt(JsonValue& body, std::size_t index) {
  return (*body["images"].arrayIf())[index];
}

void setData(JsonValue& body, std::size_t index, const std::string& base64) {
  imageAt(body, index)["dataBase64"] = base64;
}

// A character outside the alphabet in the middle: the length still gives a size, the decoding
// fails.
std::string broken(std::string base64) {
  base64[base64.size() / 2] = '!';
  return base64;
}

void breakData(JsonValue& body, std::size_t index) {
  setData(body, index, broken(*imageAt(body, index)["dataBase64"].stringIf()));
}

const std::string& fullSizeBase64() {
  static const std::string text = encodeBase64(std::string(32 * kMiB, 'f'));
  return text;
}

const std::string& oversizeBase64() {
  static const std::string text = encodeBase64(std::string(32 * kMiB + 1, 'o'));
  return text;
}

std::string stagedError(const JsonValue& base, const std::function<void(JsonValue&)>& edit) {
  JsonValue body = base;
  edit(body);
  return errorOf([&] { decodeConvertRequest(body); });
}

std::string stagedFile(const ConvertRequest& request, std::string_view relative) {
  return test::readWholeFile(request.workspace.directory() / pathFromUtf8(relative));
}

TEST(StagedImages, TheFirstFailingImageInRequestOrderIsReported) {
  test::PrivateTemp temp;
  const JsonValue base = requestBody(skeletonText("4.2"), "H", sharedImages());
  // Bad data in image 1 before the size of image 3, whose own bad data comes before its size.
  EXPECT_EQ(stagedError(base,
                        [](JsonValue& b) {
                          breakData(b, 1);
                          setData(b, 3, oversizeBase64());
                        }),
            "图片数据格式无效");
  EXPECT_EQ(stagedError(base, [](JsonValue& b) { setData(b, 3, oversizeBase64()); }),
            "单张图片不能超过 32MB");
  EXPECT_EQ(stagedError(base, [](JsonValue& b) { setData(b, 3, broken(oversizeBase64())); }),
            "图片数据格式无效");
  // Bad data in image 0 before the path of image 2, and that path before bad data in image 3.
  EXPECT_EQ(stagedError(base,
                        [](JsonValue& b) {
                          breakData(b, 0);
                          imageAt(b, 2)["path"] = "../x.png";
                        }),
            "图片数据格式无效");
  EXPECT_EQ(stagedError(base,
                        [](JsonValue& b) {
                          imageAt(b, 2)["path"] = "../x.png";
                          breakData(b, 3);
                        }),
            "图片路径不能超出工程目录");
  // A missing member or a length that is not whole groups fails before any decoding of that image.
  EXPECT_EQ(stagedError(base,
                        [](JsonValue& b) {
                          imageAt(b, 2).makeObject().erase("dataBase64");
                          breakData(b, 5);
                        }),
            "连接器请求缺少字段：dataBase64");
  EXPECT_EQ(stagedError(base,
                        [](JsonValue& b) {
                          setData(b, 4, "QUJDR");
                          setData(b, 5, oversizeBase64());
                        }),
            "图片数据格式无效");
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(StagedImages, TheTotalLimitEndsStagingAtTheImageThatCrossesIt) {
  test::PrivateTemp temp;
  // Four images of exactly 32 MiB make the whole total; a fifth of one byte crosses it.
  JsonValue base = requestBody(skeletonText("4.2"));
  JsonArray images;
  for (int i = 0; i < 6; ++i)
    images.push_back(JsonObject{{"path", "i" + std::to_string(i) + ".png"}});
  base["images"] = std::move(images);
  ASSERT_TRUE(worthSharing(4, 128 * kMiB));
  for (std::size_t i = 0; i < 4; ++i) setData(base, i, fullSizeBase64());
  setData(base, 4, "QQ==");
  setData(base, 5, "QQ==");
  EXPECT_EQ(stagedError(base, [](JsonValue& b) { setData(b, 5, "!!!!"); }),
            "图片总大小不能超过 128MB");
  EXPECT_EQ(stagedError(base, [](JsonValue& b) { setData(b, 4, "Q!=="); }), "图片数据格式无效");
  EXPECT_EQ(stagedError(base, [](JsonValue& b) { breakData(b, 2); }), "图片数据格式无效");
  EXPECT_EQ(stagedError(base, [](JsonValue& b) { imageAt(b, 5)["path"] = "/x"; }),
            "图片总大小不能超过 128MB");
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(StagedImages, FoldersAndFilesMeetEarlierImagesInRequestOrder) {
  test::PrivateTemp temp;
  const JsonValue base = requestBody(skeletonText("4.2"), "H", sharedImages());
  const auto path = [](std::size_t index, const char* text) {
    return [=](JsonValue& b) { imageAt(b, index)["path"] = text; };
  };
  // Image 0's file where image 1 needs a folder.
  const auto fileInTheWay = path(1, "img0.png/b.png");
  EXPECT_EQ(stagedError(base, fileInTheWay), "无法创建临时子目录");
  EXPECT_EQ(stagedError(base,
                        [&](JsonValue& b) {
                          fileInTheWay(b);
                          breakData(b, 1);
                        }),
            "图片数据格式无效");
  EXPECT_EQ(stagedError(base,
                        [&](JsonValue& b) {
                          fileInTheWay(b);
                          breakData(b, 2);
                        }),
            "无法创建临时子目录");
  // Image 0's folder where image 1's file goes.
  const auto folderInTheWay = [&](JsonValue& b) {
    path(0, "d/x.png")(b);
    path(1, "d")(b);
  };
  EXPECT_EQ(stagedError(base, folderInTheWay), "无法写入临时文件");
  EXPECT_EQ(stagedError(base,
                        [&](JsonValue& b) {
                          folderInTheWay(b);
                          breakData(b, 2);
                        }),
            "无法写入临时文件");
  EXPECT_EQ(stagedError(base,
                        [&](JsonValue& b) {
                          folderInTheWay(b);
                          breakData(b, 1);
                        }),
            "图片数据格式无效");
  EXPECT_TRUE(temp.leftovers().empty());

  // The later of two images with one name is on disk, however long the earlier takes; names that
  // differ in case only are one name on Windows. Both entries stay, in request order.
  std::vector<test::RequestImage> images = sharedImages();
  std::mt19937 random(5);
  images[1] = {"same.png", randomBytes(random, 4 * kMiB)};
  images[6].path = "same.png";
  images[2].path = "CASE.png";
  images[5].path = "case.png";
  const ConvertRequest request =
      decodeConvertRequest(requestBody(skeletonText("4.2"), "H", images));
  // Compared as a whole: a failure would print megabytes of bytes.
  EXPECT_TRUE(stagedFile(request, "images/same.png") == images[6].bytes);
  EXPECT_TRUE(stagedFile(request, "images/case.png") == images[5].bytes);
  ASSERT_EQ(request.images.entryCount(), images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    EXPECT_EQ(request.images.entryName(i), "images/" + images[i].path);
    EXPECT_TRUE(request.images.entryData(i) == images[i].bytes) << i;
  }
}

TEST(StagedImages, ArchiveAndFilesEqualThePlainWriters) {
  test::PrivateTemp temp;
  std::mt19937 random(3);
  std::vector<test::RequestImage> images;
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{1}, std::size_t{2}, 1500 * std::size_t{1024},
        std::size_t{99'999}, kMiB + 3, std::size_t{5}, 300 * std::size_t{1024}}) {
    images.push_back({"p" + std::to_string(images.size()) + ".png", randomBytes(random, size)});
  }
  images[3].path = "sub/deeper/图.png";
  images[6].path = "sub\\x.png";
  ASSERT_TRUE(worthSharing(images.size(), decodedBytes(images)));
  ConvertRequest request =
      decodeConvertRequest(requestBody(skeletonText("4.2", "art"), "H", images));

  std::vector<ArchiveEntry> entries = {{"H.spine", {'p', 'r', 'o', 'j'}}};
  for (const test::RequestImage& image : images) {
    entries.push_back(
        {"art/" + checkRelativePath(image.path, "图片"), {image.bytes.begin(), image.bytes.end()}});
    EXPECT_TRUE(stagedFile(request, entries.back().name) == image.bytes) << image.path;
  }
  const std::string built(request.images.finish("H.spine", "proj").view());
  EXPECT_TRUE(built == test::referenceLike(built, entries));
}

}  // namespace
}  // namespace connector
