#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "config/config.hpp"
#include "config/origin_allow_list.hpp"
#include "platform/text.hpp"
#include "support/small_stack.hpp"
#include "support/test_helpers.hpp"

namespace connector {
namespace {

using test::ScopedEnvironment;
using test::TempDirectory;

class AllowList : public ::testing::Test {
 protected:
  AllowList() {
    environment_.set("SPINE_CONNECTOR_CONFIG", pathToUtf8(dir_ / "config.json"));
    environment_.set("SPINE_CONNECTOR_ORIGINS", std::nullopt);
  }
  TempDirectory dir_;
  ScopedEnvironment environment_;
};

TEST_F(AllowList, BuiltInOriginsMatchExactly) {
  struct Case {
    const char* origin;
    bool allowed;
  };
  const Case cases[] = {
      {"", true},
      {"http://127.0.0.1:5173", true},
      {"http://localhost:5173", true},
      {"http://127.0.0.1:4173", true},
      {"http://localhost:4173", true},
      {"http://localhost:5173/", false},
      {"HTTP://localhost:5173", false},
      {"http://localhost:5174", false},
      {"https://localhost:5173", false},
      {"http://localhost", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OriginAllowList::isOriginAllowed(c.origin), c.allowed) << c.origin;
  }
  test::writeWholeFile(dir_ / "config.json", "broken");
  EXPECT_TRUE(OriginAllowList::isOriginAllowed(""));
  EXPECT_FALSE(OriginAllowList::isOriginAllowed("https://a.example"));
}

TEST_F(AllowList, EnvironmentSegmentsAreNotTrimmed) {
  ScopedEnvironment origins("SPINE_CONNECTOR_ORIGINS", "https://a.example, https://b.example,,");
  EXPECT_TRUE(OriginAllowList::isOriginAllowed("https://a.example"));
  EXPECT_FALSE(OriginAllowList::isOriginAllowed("https://b.example"));
  EXPECT_TRUE(OriginAllowList::isOriginAllowed(" https://b.example"));
  EXPECT_FALSE(OriginAllowList::isOriginAllowed("https://a.example, https://b.example"));
}

TEST_F(AllowList, PairedOriginIsAllowedAtTheNextCheck) {
  EXPECT_FALSE(OriginAllowList::isOriginAllowed("https://editor.example"));
  addAllowedOrigin("https://editor.example");
  EXPECT_TRUE(OriginAllowList::isOriginAllowed("https://editor.example"));
  EXPECT_FALSE(OriginAllowList::isOriginAllowed("https://editor.example:443"));
}

TEST(OriginSyntax, AcceptsOnlyBareOrigins) {
  struct Case {
    std::string origin;
    bool valid;
  };
  const Case cases[] = {
      {"https://example.com", true},
      {"http://[::1]:8080", true},
      {"http://127.0.0.1:99999", true},
      {"http://-", true},
      {"https://example.com/", false},
      {"https://example.com/app", false},
      {"ftp://example.com", false},
      {"http://under_score.example", false},
      {"http://user@example.com", false},
      {"", false},
      {"http://127.0.0.1:123456", false},
      {"HTTP://example.com", false},
      {"http://example.com?x=1", false},
      {"http://example.com\n", false},
      {"http://[]", false},
      // The host name has no length rule: a link may carry any origin the head has room for.
      {"http://" + std::string(65536, 'a'), true},
      {"http://" + std::string(1000, 'a'), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OriginAllowList::isValidOrigin(c.origin), c.valid) << c.origin.substr(0, 40);
  }
}

// The syntax as the standard library's engine reads the pattern, on short text built from the
// pieces it cares about.
TEST(OriginSyntax, AgreesWithTheEngine) {
  static const std::regex pattern(
      R"(^https?://(?:\[[0-9A-Fa-f:.]+\]|[A-Za-z0-9.-]+)(?::[0-9]{1,5})?$)",
      std::regex::ECMAScript);
  const auto engine = [](const std::string& origin) { return std::regex_match(origin, pattern); };
  std::mt19937 random(2722);
  const std::vector<std::vector<std::string>> parts = {
      {"http://", "https://", "http://", "https://", "http:/", "HTTP://", "", "ws://"},
      {"a", "example.com", "-", "[::1]", "[", "[fe80::A.1]", "[fg]", "[]", "under_score", "a@b",
       ""},
      {"", "", "", "0", ".x-9", "]", "[1]", " "},
      {"", "", ":1", ":65535", ":123456", ":", ":8a", "::1"},
      {"", "", "", "", "", "/", "\n", "?x", "]"}};
  int valid = 0;
  for (int i = 0; i < 6000; ++i) {
    std::string origin;
    for (const auto& choices : parts) origin += choices[random() % choices.size()];
    valid += engine(origin);
    ASSERT_EQ(OriginAllowList::isValidOrigin(origin), engine(origin)) << origin;
  }
  EXPECT_GT(valid, 200) << "too few valid origins to compare";
}

// A pairing link may carry an origin as long as the head allows; none may cost stack per byte.
TEST(OriginSyntax, LongOriginsOnASmallStack) {
  const std::string digits(10'000'000, '7');
  const std::string blanks(4 * 1024 * 1024, ' ');
  const std::string colons(4 * 1024 * 1024, ':');
  std::vector<bool> valid;
  test::runOnSmallStack([&] {
    for (const std::string& origin :
         {"http://" + digits, "https://" + digits + ":8080", "http://[" + colons + "]:1",
          "http://" + digits + "/", "http://" + blanks, "http://[" + colons,
          "http://" + digits + ":123456"}) {
      valid.push_back(OriginAllowList::isValidOrigin(origin));
    }
  });
  EXPECT_EQ(valid, (std::vector<bool>{true, true, true, false, false, false, false}));
}

}  // namespace
}  // namespace connector
