// Folders thousands of levels deep, made and removed on a thread with a small stack: as deep as the
// system takes, and far past that, where the staging fails with the folder message. The stack
// they use must not grow with the depth, and no workspace stays behind.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
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
// Past what any system takes in a path, Windows' 32,767 characters included.
constexpr std::size_t kTooManyLevels = 20'000;
// More stack for four times the levels than this is stack per level.
constexpr std::size_t kGrowthAllowed = 4 * 1024;

std::string repeated(std::string_view step, std::size_t count) {
  std::string text;
  text.reserve(step.size() * count);
  for (std::size_t i = 0; i < count; ++i) text += step;
  return text;
}

// Levels of "a/" that keep a path under `directory` near 3,500 bytes: Linux takes paths of up to
// 4,095 bytes. Wine looks every level of a path up again on each call, so the Windows build goes
// 300 levels deep; the stack's growth per level shows there as well.
std::size_t deepestLevels(const std::filesystem::path& directory) {
  if (std::filesystem::path::preferred_separator == '\\') return 300;
  return (3500 - pathToUtf8(directory).size()) / 2;
}

struct Staged {
  std::string deep = "(not run)";
  std::string again;
  std::string beside;
  std::string tooDeep;
};

// In a workspace: `levels` levels with a file at the bottom, the same again, a branch beside half
// of them, and a path no system takes; the workspace is removed on the same stack.
Staged stageLevels(std::size_t levels) {
  Staged staged;
  const ConversionWorkspace workspace = ConversionWorkspace::create();
  const std::filesystem::path& directory = workspace.directory();
  const std::string path = repeated("a/", levels) + "b";
  staged.deep = errorOf([&] {
    ConversionWorkspace::ensureDirectories(directory / pathFromUtf8(path));
    ConversionWorkspace::writeFile(directory / pathFromUtf8(path + "/x.png"), "png", "fail");
  });
  staged.again =
      errorOf([&] { ConversionWorkspace::ensureDirectories(directory / pathFromUtf8(path)); });
  staged.beside = errorOf([&] {
    ConversionWorkspace::ensureDirectories(
        directory / pathFromUtf8(repeated("a/", levels / 2) + repeated("c/", levels / 2)));
  });
  staged.tooDeep = errorOf([&] {
    ConversionWorkspace::ensureDirectories(directory /
                                           pathFromUtf8(repeated("a/", kTooManyLevels)));
  });
  return staged;
}

TEST(DeepPaths, WorkspaceFoldersOnASmallStack) {
  test::PrivateTemp temp;
  const std::size_t levels = deepestLevels(temp.path() / std::string(49, 'w'));
  Staged deep;
  Staged shallow;
  const std::size_t deepStack = test::stackUsedBy([&] { deep = stageLevels(levels); });
  const std::size_t shallowStack = test::stackUsedBy([&] { shallow = stageLevels(levels / 4); });
  for (const Staged* staged : {&deep, &shallow}) {
    EXPECT_EQ(staged->deep, "(no error)");
    EXPECT_EQ(staged->again, "(no error)");
    EXPECT_EQ(staged->beside, "(no error)");
    EXPECT_EQ(staged->tooDeep, kCannotCreateFolder);
  }
  EXPECT_LT(deepStack, shallowStack + kGrowthAllowed)
      << levels << " levels took " << deepStack << " bytes of stack, " << levels / 4 << " took "
      << shallowStack;
  EXPECT_TRUE(temp.leftovers().empty());
}

TEST(DeepPaths, ImagePathsAndImagesFolderOnASmallStack) {
  test::PrivateTemp temp;
  // The workspace's name is 49 bytes at most.
  const std::size_t levels = deepestLevels(temp.path() / std::string(49, 'w')) - 10;
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
