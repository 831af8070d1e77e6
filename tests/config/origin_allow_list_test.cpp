#include <gtest/gtest.h>

#include <string>

#include "config/config.hpp"
#include "config/origin_allow_list.hpp"
#include "platform/text.hpp"
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
      // Long enough to overflow the regex engine's stack if it ever reached it.
      {"http://" + std::string(65536, 'a'), false},
      {"http://" + std::string(1000, 'a'), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OriginAllowList::isValidOrigin(c.origin), c.valid) << c.origin.substr(0, 40);
  }
}

}  // namespace
}  // namespace connector
