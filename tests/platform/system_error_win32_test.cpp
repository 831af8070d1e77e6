// The system's reasons as the user reads them. Wine's message table is English; a Chinese
// Windows gives Chinese text through the same call.
#include "platform/win32.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/system_error.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

TEST(SystemErrors, AreTheSystemsOwnTextWithoutTheLineBreak) {
  const struct {
    DWORD code;
    const char* text;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, "File not found."},
      {ERROR_PATH_NOT_FOUND, "Path not found."},
      {ERROR_ACCESS_DENIED, "Access denied."},
      {ERROR_SHARING_VIOLATION, "Sharing violation."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(systemErrors().message(static_cast<int>(c.code)), c.text);
  }
}

TEST(SystemErrors, ACodeWithoutTextIsNamedByNumber) {
  EXPECT_EQ(systemErrors().message(0x2FFFFFFF), "系统错误 805306367");
}

// A reason built from the standard library's code comes out the same as from ours, and a
// file-system error keeps the standard library's layout around it.
TEST(SystemErrors, ReadableErrorKeepsTheCodeAndChangesOnlyTheText) {
  const std::error_code standard(ERROR_ACCESS_DENIED, std::system_category());
  const std::error_code readable = readableError(standard);
  EXPECT_EQ(readable.value(), standard.value());
  EXPECT_EQ(readable, std::errc::permission_denied);
  const std::error_code generic = std::make_error_code(std::errc::no_such_file_or_directory);
  EXPECT_EQ(readableError(generic), generic);
  const std::filesystem::filesystem_error error("rename", pathFromUtf8("C:\\a"),
                                                pathFromUtf8("C:\\b"), readable);
  EXPECT_STREQ(error.what(), "filesystem error: rename: Access denied. [C:\\a] [C:\\b]");
}

}  // namespace
}  // namespace connector
