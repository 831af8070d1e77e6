// Staged files on Windows are tolerant of virus scanners.
#include "platform/win32.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

#include "convert/workspace.hpp"
#include "convert_test_support.hpp"

namespace connector {
namespace {

// A scanner opens a new file to read it, without letting anyone write, for a moment.
TEST(WorkspaceSecurity, AFileAScannerHoldsForAMomentIsStillWritten) {
  test::PrivateTemp temp;
  auto workspace = ConversionWorkspace::create();
  const std::filesystem::path file = workspace.directory() / "image.png";
  ConversionWorkspace::writeFile(file, "old", "无法写入临时文件");
  std::promise<void> opened;
  std::thread scanner([&] {
    UniqueHandle holder(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    opened.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  });
  opened.get_future().wait();
  EXPECT_NO_THROW(ConversionWorkspace::writeFile(file, "new bytes", "无法写入临时文件"));
  scanner.join();
  EXPECT_EQ(test::readWholeFile(file), "new bytes");
}

}  // namespace
}  // namespace connector
