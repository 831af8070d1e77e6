#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/quote_argument.hpp"

namespace connector {
namespace {

TEST(QuoteArgument, ProducesTokensTheRuntimeParsesBack) {
  struct Case {
    std::string text;
    std::wstring token;
  };
  const Case cases[] = {
      {"", L"\"\""},
      {"plain", L"\"plain\""},
      {"has space", L"\"has space\""},
      {"dir\\", L"\"dir\\\\\""},                              // trailing backslash doubled
      {"C:\\Program Files\\", L"\"C:\\Program Files\\\\\""},  // inner ones left alone
      {"a\\\"b", L"\"a\\\\\\\"b\""},                          // a, three backslashes, quote, b
      {"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},  // two backslashes before a quote: five
      {"\"", L"\"\\\"\""},
      {"\\\\server\\share", L"\"\\\\server\\share\""},
      {"\xE4\xB8\xAD\xE6\x96\x87 \xE5\x8F\x82\xE6\x95\xB0", L"\"\u4E2D\u6587 \u53C2\u6570\""},
      {"bad\xFF", L"\"bad\uFFFD\""},  // malformed UTF-8 is repaired, not refused
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quoteArgument(c.text), c.token) << c.text;
  }
}

TEST(QuoteArgument, CommandLineQuotesProgramAndEveryArgument) {
  EXPECT_EQ(buildCommandLine("C:\\Spine\\Spine.com", {}), L"\"C:\\Spine\\Spine.com\"");
  EXPECT_EQ(buildCommandLine("Spine.com", {"--update", "", "x y\\"}),
            L"\"Spine.com\" \"--update\" \"\" \"x y\\\\\"");
}

}  // namespace
}  // namespace connector
