#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "encoding/json.hpp"

namespace connector {
namespace {

TEST(JsonValue, TypeTagsFollowTheVariantOrder) {
  EXPECT_EQ(JsonValue().type(), 0);
  EXPECT_EQ(JsonValue(true).type(), 1);
  EXPECT_EQ(JsonValue(1.5).type(), 2);
  EXPECT_EQ(JsonValue("x").type(), 3);
  EXPECT_EQ(JsonValue(JsonArray{}).type(), 4);
  EXPECT_EQ(JsonValue(JsonObject{}).type(), 5);
  EXPECT_TRUE(JsonValue(static_cast<const char*>(nullptr)).isString());
  EXPECT_EQ(JsonValue(static_cast<const char*>(nullptr)).asString(), "");
}

TEST(JsonValue, ReadsOfTheWrongTypeGiveNeutralValues) {
  const JsonValue number(5.0);
  const JsonValue text("5");
  const JsonValue array(JsonArray{1, 2});
  EXPECT_EQ(number.asString(), "");
  EXPECT_EQ(&number.asString(), &JsonValue().asString());  // one shared empty string
  EXPECT_EQ(text.asNumber(), 0.0);
  EXPECT_EQ(array.find("0"), nullptr);
  EXPECT_TRUE(text.asArray().empty());
  EXPECT_TRUE(array.asObject().empty());
  EXPECT_FALSE(text.asBool());

  JsonValue object(JsonObject{{"k", "v"}});
  ASSERT_NE(object.find("k"), nullptr);
  EXPECT_EQ(object.find("k")->asString(), "v");
  EXPECT_EQ(object.find("missing"), nullptr);
}

TEST(JsonValue, MutableAccessTurnsAnyValueIntoAnObject) {
  JsonValue value(JsonArray{1, 2});
  value["k"];
  EXPECT_EQ(toJsonText(value, -1), R"({"k":null})");
  value["k"] = "v";
  value["j"]["deep"] = 1;
  EXPECT_EQ(toJsonText(value, -1), R"({"j":{"deep":1},"k":"v"})");
  value = 3.0;  // assignment replaces the whole value
  EXPECT_TRUE(value.isNumber());
}

TEST(JsonValue, CopiesAreDeepAndRepeatedKeysKeepTheFirst) {
  const JsonObject built{{"a", 1}, {"b", 2}, {"a", 3}};
  EXPECT_EQ(toJsonText(built, -1), R"({"a":1,"b":2})");
  JsonValue original(JsonObject{{"list", JsonArray{"x"}}});
  JsonValue copy = original;
  copy["list"] = "changed";
  EXPECT_EQ(toJsonText(original, -1), R"({"list":["x"]})");
}

TEST(JsonWriter, KeysAreOrderedByByteValue) {
  JsonValue value;
  value["b"] = 1;
  value["a"] = 2;
  value["B"] = 3;
  value["ab"] = 4;
  EXPECT_EQ(toJsonText(value, -1), R"({"B":3,"a":2,"ab":4,"b":1})");
}

TEST(JsonWriter, IndentedAndCompactForms) {
  const JsonValue value(JsonObject{{"a", JsonArray{1, 2}}, {"b", JsonObject{}}});
  EXPECT_EQ(toJsonText(value, 2),
            "{\n"
            "  \"a\": [\n"
            "    1,\n"
            "    2\n"
            "  ],\n"
            "  \"b\": {}\n"
            "}");
  EXPECT_EQ(toJsonText(value, -1), R"({"a":[1,2],"b":{}})");
  EXPECT_EQ(toJsonText(value, 0), R"({"a":[1,2],"b":{}})");
  EXPECT_EQ(toJsonText(JsonArray{}, 2), "[]");
  EXPECT_EQ(toJsonText(JsonArray{JsonArray{}}, 4), "[\n    []\n]");

  std::ostringstream nested;
  writeJson(nested, JsonArray{true}, 2, 1);  // depth shifts every line after the first
  EXPECT_EQ(nested.str(), "[\n    true\n  ]");
}

TEST(JsonWriter, NumbersUseSeventeenSignificantDigits) {
  const struct {
    double number;
    const char* text;
  } cases[] = {
      {27843, "27843"},
      {0.5, "0.5"},
      {0.1, "0.10000000000000001"},
      {1e21, "1e+21"},
      {1e17, "1e+17"},
      {1e16, "10000000000000000"},
      {-0.0, "-0"},
      {0.0001, "0.0001"},
      {0.00001, "1.0000000000000001e-05"},
      {123456789012345678901.0, "1.2345678901234568e+20"},
      {12345678901234567890.0, "1.2345678901234567e+19"},  // the nearest double's 17 digits
      {-2.5, "-2.5"},
      {5e-324, "4.9406564584124654e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(toJsonText(c.number, -1), c.text);
  }
  std::ostringstream stream;
  writeJson(stream, 1.0, -1);
  EXPECT_EQ(stream.precision(), 17);
}

// A numpunct that would print 1.5 as "1,5" and 27843 as "27.843" if the writer used the locale.
struct CommaDecimal : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(JsonWriter, NumbersIgnoreTheStreamLocale) {
  std::ostringstream stream;
  stream.imbue(std::locale(std::locale::classic(), new CommaDecimal));
  writeJson(stream, JsonArray{1.5, 27843}, -1);
  EXPECT_EQ(stream.str(), "[1.5,27843]");
}

TEST(JsonWriter, EscapesOnlyQuotesBackslashesAndControlBytes) {
  const struct {
    std::string raw;
    const char* written;
  } cases[] = {
      {"\"\\", R"("\"\\")"},
      {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
      {"\x01", R"("\u0001")"},
      {"\x1f", R"("\u001f")"},
      {std::string(1, '\0'), R"("\u0000")"},
      {"\x7f", "\"\x7f\""},
      {"\xC3\xA9/\xE2\x82\xAC", "\"\xC3\xA9/\xE2\x82\xAC\""},
      {"\xFF\xFE", "\"\xFF\xFE\""},  // not validated
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(toJsonText(c.raw, -1), c.written);
    std::string appended = "x";
    writeJsonString(appended, c.raw);
    EXPECT_EQ(appended, std::string("x") + c.written);
  }
  EXPECT_EQ(toJsonText(JsonObject{{"a\"b\n", 1}}, -1), R"({"a\"b\n":1})");  // keys too
}

TEST(JsonWriter, StreamOutputMatchesTextForLargeDocuments) {
  JsonArray rows;
  for (int i = 0; i < 20000; ++i) {
    rows.push_back(JsonObject{{"index", i}, {"name", "\xE9\xAA\xA8\xE9\xAA\xBC"}});
  }
  const JsonValue value(std::move(rows));
  std::ostringstream stream;
  writeJson(stream, value, 2);
  EXPECT_EQ(stream.str(), toJsonText(value, 2));
  EXPECT_GT(stream.str().size(), 64u * 1024u * 4u);  // spans several pieces handed to the stream
}

}  // namespace
}  // namespace connector
