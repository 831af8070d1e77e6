#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "convert/workspace.hpp"
#include "convert_test_support.hpp"

namespace connector {
namespace {

// Windows refuses to delete a file that is still open; the workspace waits briefly for it.
TEST(ConversionWorkspaceWin32, FileHeldOpenForAMomentIsStillRemoved) {
  test::PrivateTemp temp;
  std::filesystem::path directory;
  std::thread holder;
  {
    auto workspace = ConversionWorkspace::create();
    directory = workspace.directory();
    auto file = std::make_unique<std::ofstream>(directory / "busy.bin", std::ios::binary);
    ASSERT_TRUE(*file);
    holder = std::thread([file = std::move(file)]() mutable {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      file.reset();
    });
  }
  holder.join();
  EXPECT_FALSE(std::filesystem::exists(directory));
  EXPECT_TRUE(temp.leftovers().empty());
}

}  // namespace
}  // namespace connector
