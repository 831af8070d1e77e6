// The version rule, the editor-version search and the licence-line redaction against the standard
// library's engine running the patterns as written, on short text; and on runs of megabytes on a
// thread with a small stack, where that engine would recurse once per character.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "convert/request_rules.hpp"
#include "convert/spine_run.hpp"
#include "convert_test_support.hpp"
#include "encoding/ascii.hpp"
#include "support/small_stack.hpp"

namespace connector {
namespace {

using test::errorOf;

constexpr const char* kRefused = "不支持的 Spine 版本：";
constexpr const char* kHidden = "Spine 授权信息已隐藏";

std::string engineVersion(const std::string& text) {
  static const std::regex pattern(R"(^(3\.8|4\.[0-3])(?:\.\d+)?$)", std::regex::ECMAScript);
  const std::string trimmed(trimAsciiWhitespace(text));
  std::smatch match;
  if (!std::regex_match(trimmed, match, pattern)) return kRefused + text;
  return match[1].str();
}

std::string ruleVersion(const std::string& text) {
  std::string result;
  const std::string error = errorOf([&] { result = checkSpineVersion(text); });
  return result.empty() ? error : result;
}

std::string engineEditorVersion(const std::string& output) {
  static const std::regex pattern(R"(Starting:\s+Spine\s+([0-9.]+))",
                                  std::regex::ECMAScript | std::regex::icase);
  std::smatch match;
  return std::regex_search(output, match, pattern) ? match[1].str() : "(none)";
}

// Lines split at line feeds, each line's pattern matches replaced, joined, trimmed. Text without
// carriage returns only: a line with one inside is hidden as a whole (see the redaction's table).
std::string engineRedaction(const std::string& output) {
  static const std::regex pattern("^Licensed to:.*$", std::regex::ECMAScript | std::regex::icase);
  std::string joined;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = output.find('\n', start);
    if (start > 0) joined += '\n';
    joined += std::regex_replace(output.substr(start, end - start), pattern, kHidden);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return std::string(trimAsciiWhitespace(joined));
}

// Text made of pieces the patterns care about, so that matches and near misses are frequent.
std::string randomText(std::mt19937& random, const std::vector<std::string>& pieces,
                       std::size_t maxPieces) {
  std::string text;
  const std::size_t count = random() % (maxPieces + 1);
  for (std::size_t i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
  return text;
}

TEST(TextPatterns, VersionRuleAgreesWithTheEngine) {
  const std::vector<std::string> table = {
      "4.2.43", "3.8",     "4.0.0",        "4.3",     " 4.1 ",    "\t\r\n4.2\v\f", "3.8.",
      "4.2..1", "4.4",     "3.80",         "4.2.1.1", "4.2-beta", "4.21",          ".4.2",
      "4.2 .1", "4.2.1 x", "4.2.\xd9\xa3", "",        "4.2.0x",   "4.3.0123456789"};
  for (const std::string& text : table) EXPECT_EQ(ruleVersion(text), engineVersion(text)) << text;

  std::mt19937 random(2701);
  const std::vector<std::vector<std::string>> parts = {
      {"", "", " ", "\t\n", "\xa0", "v"},
      {"4.2", "3.8", "4.0", "4.3", "4.4", "3.7", "4.", "4", "4.21", ".4.2", "3.80"},
      {"", ".43", ".0", ".", "..1", ".1.1", "-beta", ".\xd9\xa3", "1", ".0x", ". 1"},
      {"", "", " ", "\r\v\f", "x", "."}};
  int accepted = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string text;
    for (const auto& choices : parts) text += choices[random() % choices.size()];
    accepted += engineVersion(text).size() == 3;
    ASSERT_EQ(ruleVersion(text), engineVersion(text)) << text;
  }
  EXPECT_GT(accepted, 150) << "too few supported versions to compare";
}

TEST(TextPatterns, EditorVersionSearchAgreesWithTheEngine) {
  const std::vector<std::string> table = {"Starting: Spine 4.2.43",
                                          "x\r\nSTARTING:\t\n SPINE\f4.1.07 (beta)",
                                          "Starting:Spine 4.2",
                                          "Starting: Spine4.2",
                                          "Starting: Spine .",
                                          "Starting: Starting: Spine 3.8.1",
                                          "Starting:  Spine  x 4.2",
                                          "Starting: Spine 1..2.-3",
                                          "starting: spine 4.2\nStarting: Spine 3.8",
                                          "Starting: Spin 4.2",
                                          "Starting \nSpine 4.2",
                                          ""};
  for (const std::string& output : table) {
    EXPECT_EQ(findEditorVersion(output, "(none)"), engineEditorVersion(output)) << output;
  }

  // Lines in the pattern's order, each part drawn from right and wrong forms, with noise between.
  std::mt19937 random(2702);
  const std::vector<std::vector<std::string>> parts = {
      {"", "x", "\n", "Starting: ", ":", "\r\n"},
      {"Starting:", "starting:", "STARTING:", "Starting", "Start:", "Starting:Spine"},
      {" ", "\t", "\n \v", "", "\xa0", "\r\f"},
      {"Spine", "spine", "SPINE", "Spin", "Starting:", "Spine4"},
      {" ", "  ", "\t", "", "\xa0", "x"},
      {"4.2.43", ".", "1", "", "x4.2", "3..8-1"}};
  int found = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string output;
    for (std::size_t lines = 1 + random() % 3; lines > 0; --lines) {
      for (const auto& choices : parts) output += choices[random() % choices.size()];
    }
    found += engineEditorVersion(output) != "(none)";
    ASSERT_EQ(findEditorVersion(output, "(none)"), engineEditorVersion(output)) << output;
  }
  EXPECT_GT(found, 400) << "too few outputs with a version to compare";
}

TEST(TextPatterns, LicenceRedactionAgreesWithTheEngine) {
  const std::vector<std::string> table = {"Licensed to: Someone\nERROR: x",
                                          "LICENSED TO:",
                                          "Licensed to",
                                          " Licensed to: x",
                                          "x Licensed to: y\nlicensed to: z",
                                          std::string("Licensed to:\0x", 14),
                                          "Licensed  to: x",
                                          "\n\nLicensed to: a\n\n"};
  for (const std::string& output : table) {
    EXPECT_EQ(redactSpineOutput(output), engineRedaction(output)) << output;
  }

  std::mt19937 random(2703);
  const std::vector<std::string> pieces = {
      "Licensed to:", "licensed TO:", "Licensed to", "Licensed", " to:", "\n", " ", "\t", "x", ":",
      "\xe6\x8e\x88"};
  int hidden = 0;
  for (int i = 0; i < 4000; ++i) {
    const std::string output = randomText(random, pieces, 8);
    hidden += engineRedaction(output).find(kHidden) != std::string::npos;
    ASSERT_EQ(redactSpineOutput(output), engineRedaction(output)) << output;
  }
  EXPECT_GT(hidden, 400) << "too few licence lines to compare";
}

// A request may carry megabytes of digits in a version, and Spine may print its full 4 MiB of
// output as one run of white space.
TEST(TextPatterns, MegabyteRunsOnASmallStack) {
  const std::string digits(10'000'000, '7');
  std::string blanks;
  while (blanks.size() < 4 * 1024 * 1024) blanks += kAsciiWhitespace;

  struct Outcome {
    const char* what;
    std::string got;
    std::string expected;
  };
  std::vector<Outcome> outcomes;
  test::runOnSmallStack([&] {
    outcomes = {
        {"version with a long patch", ruleVersion("4.2." + digits), "4.2"},
        {"version in white space", ruleVersion(blanks + "4.3" + blanks), "4.3"},
        {"long patch, then a letter", ruleVersion("4.2." + digits + "x"),
         kRefused + ("4.2." + digits + "x")},
        {"long minor", ruleVersion("4." + digits), kRefused + ("4." + digits)},
        {"editor version of 10 MB", findEditorVersion("Starting: Spine " + digits, "4.2.xx"),
         digits},
        {"editor version after white space",
         findEditorVersion("Starting:" + blanks + "Spine" + blanks + "4.2.43", "4.2.xx"), "4.2.43"},
        {"white space and no version", findEditorVersion("Starting:" + blanks, "4.2.xx"), "4.2.xx"},
        {"long licence line", redactSpineOutput("Licensed to:" + digits + "\r\nnext"),
         std::string(kHidden) + "\nnext"},
        {"long plain line", redactSpineOutput(blanks + digits + blanks), digits},
    };
  });
  for (const Outcome& outcome : outcomes) {
    EXPECT_TRUE(outcome.got == outcome.expected) << outcome.what << ": got " << outcome.got.size()
                                                 << " bytes starting " << outcome.got.substr(0, 40);
  }
}

}  // namespace
}  // namespace connector
