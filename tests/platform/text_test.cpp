#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "platform/environment.hpp"
#include "platform/text.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

TEST(Text, RoundTripsEveryPlane) {
  const std::string samples[] = {"", "abc", "\xE7\x89\xB9\xE6\x95\x88", "\xF0\x9F\x98\x80 x",
                                 "\xC3\xA9/\xE2\x82\xAC"};
  for (const auto& utf8 : samples) {
    EXPECT_EQ(toUtf8(toWide(utf8)), utf8);
    EXPECT_EQ(toUtf8Strict(toWideStrict(utf8)), utf8);
  }
  const std::wstring smile = toWide("\xF0\x9F\x98\x80");
  EXPECT_EQ(smile.size(), sizeof(wchar_t) == 2 ? 2u : 1u);  // a surrogate pair on Windows
}

TEST(Text, MalformedUtf8IsRepairedOrRefused) {
  struct Case {
    const char* bytes;
    std::size_t replacements;
  };
  const Case cases[] = {
      {"\xFF", 1},              // never valid
      {"\xC0\xAF", 2},          // overlong slash
      {"\xED\xA0\x80", 3},      // encoded surrogate
      {"\xE4\xB8", 1},          // truncated sequence
      {"a\x80z", 1},            // stray continuation byte
      {"\xF4\x90\x80\x80", 4},  // past U+10FFFF
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_FALSE(isValidUtf8(c.bytes));
    EXPECT_THROW(toWideStrict(c.bytes), std::runtime_error);
    const std::wstring wide = toWide(c.bytes);
    EXPECT_EQ(std::count(wide.begin(), wide.end(), L'\xFFFD'), static_cast<long>(c.replacements));
  }
}

TEST(Text, UnpairedSurrogatesInWideText) {
  if constexpr (sizeof(wchar_t) == 2) {
    const std::wstring lone(1, static_cast<wchar_t>(0xD800));
    EXPECT_THROW(toUtf8Strict(lone), std::runtime_error);
    EXPECT_EQ(toUtf8(lone), "\xEF\xBF\xBD");
  } else {
    const std::wstring tooLarge(1, static_cast<wchar_t>(0x110000));
    EXPECT_THROW(toUtf8Strict(tooLarge), std::runtime_error);
  }
}

TEST(Text, ChinesePathsReachTheFileSystem) {
  test::TempDirectory dir;
  const auto file = dir / "\xE7\x94\xA8\xE6\x88\xB7-\xE7\x89\xB9\xE6\x95\x88.txt";
  test::writeWholeFile(file, "x");
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(pathToUtf8(file.filename()), "\xE7\x94\xA8\xE6\x88\xB7-\xE7\x89\xB9\xE6\x95\x88.txt");
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    found = found || pathToUtf8(entry.path().filename()) == pathToUtf8(file.filename());
  }
  EXPECT_TRUE(found);
  EXPECT_THROW(pathFromUtf8("\xFF"), std::runtime_error);
}

TEST(Environment, ReadsEveryTimeAndRestores) {
  const char* name = "GLIMMER_TEXT_TEST_VARIABLE";
  {
    test::ScopedEnvironment env(name, "\xE5\xBC\xA0\xE4\xB8\x89");
    EXPECT_EQ(readEnvironment(name), "\xE5\xBC\xA0\xE4\xB8\x89");
    EXPECT_EQ(readEnvironmentStrict(name), "\xE5\xBC\xA0\xE4\xB8\x89");
    setEnvironment(name, std::string(300, 'v'));  // longer than the first read buffer
    EXPECT_EQ(readEnvironment(name), std::string(300, 'v'));
  }
  EXPECT_EQ(readEnvironment(name), "");
}

}  // namespace
}  // namespace connector
