// Folders thousands of levels deep, made and removed on a thread with a small stack: as deep as the
// system takes, and far past that, where the staging fails with the folder message. Either way
// no workspace stays behind.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "convert/convert_request.hpp"
#include "convert/workspace.hpp"
#include "convert_test_support.hpp"
#include "platform/text.hpp"
#include "support/small_stack.hpp"

namespace connector {
namespace {

using test::errorOf;

constexpr const char* kCannotCreateFolder = "无法创建临时子目录";

std::string repeated(std::string_view step, std::size_t count) {
  std::string text;
  text.reserve(step.size() * count);
  for (std::size_t i = 0; i < count; ++i) text += step;
  return text;
}

// Levels of "a/" that keep a path under `directory` near 3,500 bytes: Linux takes paths of up to
// 4,095 bytes, and Wine passes a longer form of the same path to Linux. 40,000 characters are past
// what any system takes, Windows' 32,767 included.
std::size_t deepestLevels(const std::filesystem::path& directory) {
  return (3500 - pathToUtf8(directory).size()) / 2;
}
constexpr std::size_t kTooManyLevels = 20'000;

TEST(DeepPaths, WorkspaceFoldersOnASmallStack) {
  test::PrivateTemp temp;
  std::size_t levels = 0;
  std::string deep = "(not run)";
  std::string again;
  std::string beside;
  std::string tooDeep;
  test::runOnSmallStack([&] {
    const ConversionWorkspace workspace = ConversionWorkspace::create();
    const std::filesystem::path& directory = workspace.directory();
    levels = deepestLevels(directory);
    const std::string path = repeated("a/", levels) + "b";
    deep = errorOf([&] {
      ConversionWorkspace::ensureDirectories(directory / pathFromUtf8(path));
      ConversionWorkspace::writeFile(directory / pathFromUtf8(path + "/x.png"), "png", "fail");
    });
    again =
        errorOf([&] { ConversionWorkspace::ensureDirectories(directory / pathFromUtf8(path)); });
    // Half of the levels exist already.
    beside = errorOf([&] {
      ConversionWorkspace::ensureDirectories(
          directory / pathFromUtf8(repeated("a/", levels / 2) + repeated("c/", levels / 2 - 1)));
    });
    tooDeep = errorOf([&] {
      ConversionWorkspace::ensureDirectories(directory /
                                             pathFromUtf8(repeated("a/", kTooManyLevels)));
    });
  });  // the workspace is removed on that stack too
  EXPECT_GT(levels, 1500u);
  EXPECT_EQ(deep, "(no error)");
  EXPECT_EQ(again, "(no error)");
  EXPECT_EQ(beside, "(no error)");
  EXPECT_EQ(tooDeep, kCannotCreateFolder);
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(DeepPaths, ImagePathsAndImagesFolderOnASmallStack) {
  test::PrivateTemp temp;
  const std::size_t levels =
      deepestLevels(temp.path() / "glimmer-12345678901234567890-12345678901234567890") - 10;
  const std::string image = repeated("a/", levels / 2) + "x.png";
  const std::string folder = repeated("f/", levels / 2);
  struct Outcome {
    std::string error;
    std::string lastEntry;
  };
  const auto convert = [](const JsonValue& body) {
    Outcome outcome;
    outcome.error = errorOf([&] {
      const ConvertRequest request = decodeConvertRequest(body);
      outcome.lastEntry = request.images.entryName(request.images.entryCount() - 1);
    });
    return outcome;
  };
  Outcome deep;
  Outcome tooDeepImage;
  Outcome tooDeepFolder;
  test::runOnSmallStack([&] {
    deep = convert(test::requestBody(test::skeletonText("4.2", folder), "Hero", {{image, "png"}}));
    tooDeepImage = convert(test::requestBody(test::skeletonText("4.2"), "Hero",
                                             {{repeated("a/", kTooManyLevels) + "x.png", "png"}}));
    tooDeepFolder = convert(test::requestBody(
        test::skeletonText("4.2", repeated("f/", kTooManyLevels)), "Hero", {{"x.png", "png"}}));
  });
  EXPECT_EQ(deep.error, "(no error)");
  EXPECT_EQ(deep.lastEntry, folder + image);
  EXPECT_EQ(tooDeepImage.error, kCannotCreateFolder);
  EXPECT_EQ(tooDeepFolder.error, kCannotCreateFolder);
  EXPECT_TRUE(temp.leftovers().empty());
}

}  // namespace
}  // namespace connector
