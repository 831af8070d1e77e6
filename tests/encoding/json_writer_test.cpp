#include <gtest/gtest.h>

#include <locale>
#include <sstream>

#include "encoding/json.hpp"

namespace connector {
namespace {

TEST(JsonValue, TypedReadsNeverFail) {
  const JsonValue values[] = {JsonValue(), true, 1.5, "x", JsonArray{}, JsonObject{}};
  for (int tag = 0; tag < 6; ++tag) EXPECT_EQ(values[tag].type(), tag);  // variant order
  EXPECT_EQ(JsonValue(static_cast<const char*>(nullptr)).asString(), "");

  const JsonValue number(5.0), text("5"), array(JsonArray{1, 2});
  EXPECT_EQ(number.asString(), "");
  EXPECT_EQ(&number.asString(), &array.asString());  // one shared empty string
  EXPECT_EQ(&text.asArray(), &number.asArray());
  EXPECT_EQ(&text.asObject(), &array.asObject());
  EXPECT_EQ(text.asNumber(), 0.0);
  EXPECT_EQ(array.find("0"), nullptr);
  EXPECT_FALSE(text.asBool());
  const JsonValue object(JsonObject{{"k", "v"}});
  ASSERT_NE(object.find("k"), nullptr);
  EXPECT_EQ(object.find("k")->asString(), "v");
  EXPECT_EQ(object.find("missing"), nullptr);
}

TEST(JsonValue, MutationAndCopies) {
  JsonValue value(JsonArray{1, 2});
  value["k"];  // an array becomes an object holding only k
  EXPECT_EQ(toJsonText(value, -1), R"({"k":null})");
  value["j"]["deep"] = 1;
  EXPECT_EQ(toJsonText(value, -1), R"({"j":{"deep":1},"k":null})");

  const JsonObject built{{"a", 1}, {"b", 2}, {"a", 3}};  // the first of a repeated key wins
  EXPECT_EQ(toJsonText(built, -1), R"({"a":1,"b":2})");
  JsonValue copy = value;
  copy["j"] = "changed";  // copies are deep
  EXPECT_EQ(toJsonText(value, -1), R"({"j":{"deep":1},"k":null})");
  copy = 3.0;  // assignment replaces the whole value
  EXPECT_TRUE(copy.isNumber());
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
  EXPECT_EQ(toJsonText(value, 2), "{\n  \"a\": [\n    1,\n    2\n  ],\n  \"b\": {}\n}");
  EXPECT_EQ(toJsonText(value, -1), R"({"a":[1,2],"b":{}})");
  EXPECT_EQ(toJsonText(value, 0), R"({"a":[1,2],"b":{}})");
  EXPECT_EQ(toJsonText(JsonArray{}, 2), "[]");
  EXPECT_EQ(toJsonText(JsonArray{JsonArray{}}, 4), "[\n    []\n]");
  std::ostringstream nested;
  writeJson(nested, JsonArray{true}, 2, 1);  // depth indents every line after the first
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
      {-2.5, "-2.5"},
      {0.0001, "0.0001"},
      {0.00001, "1.0000000000000001e-05"},
      {5e-324, "4.9406564584124654e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {12345678901234567890.0, "1.2345678901234567e+19"},  // the nearest double's 17 digits
  };
  for (const auto& c : cases) EXPECT_EQ(toJsonText(c.number, -1), c.text);
  std::ostringstream stream;
  writeJson(stream, 1.0, -1);
  EXPECT_EQ(stream.precision(), 17);
}

// Would print 1.5 as "1,5" and 27843 as "27.843" if the writer followed the stream's locale.
struct CommaDecimal : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(JsonWriter, NumbersIgnoreTheLocale) {
  const std::locale comma(std::locale::classic(), new CommaDecimal);
  const std::locale previous = std::locale::global(comma);
  std::ostringstream stream;
  stream.imbue(comma);
  writeJson(stream, JsonArray{1.5, 27843}, -1);
  std::locale::global(previous);
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
      {"\xC3\xA9/\xE2\x82\xAC", "\"\xC3\xA9/\xE2\x82\xAC\""},  // UTF-8 and the slash stay raw
      {"\xFF\xFE", "\"\xFF\xFE\""},                            // not validated
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toJsonText(c.raw, -1), c.written);
    std::string appended = "x";
    writeJsonString(appended, c.raw);
    EXPECT_EQ(appended, std::string("x") + c.written);
  }
  EXPECT_EQ(toJsonText(JsonObject{{"a\"b\n", 1}}, -1), R"({"a\"b\n":1})");  // keys too
}

TEST(JsonWriter, StreamOutputMatchesTextForLargeDocuments) {
  JsonArray rows;
  for (int i = 0; i < 20000; ++i) rows.push_back(JsonObject{{"index", i}, {"name", "骨骼"}});
  const JsonValue value(std::move(rows));
  std::ostringstream stream;
  writeJson(stream, value, 2);
  EXPECT_GT(stream.str().size(), 4u * 64u * 1024u);  // handed over in several pieces
  EXPECT_EQ(stream.str(), toJsonText(value, 2));
}

}  // namespace
}  // namespace connector
