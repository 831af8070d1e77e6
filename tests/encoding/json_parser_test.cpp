#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <locale>
#include <random>
#include <string>
#include <thread>

#include "encoding/json.hpp"
#include "encoding/json_parser.hpp"

namespace connector {
namespace {

template <typename Parse>
std::string faultOfParse(Parse parse) {
  try {
    parse();
    return "parsed";
  } catch (const JsonParseError& error) {
    return error.what();
  }
}

// The parse fault's message, or "parsed" when the text is accepted. The in-place parse and the
// member-picking check (picking one member, or none so that everything is only checked) must
// judge every text exactly alike.
std::string faultOf(std::string_view text) {
  const std::string fault = faultOfParse([&] { parseJson(text); });
  static constexpr std::string_view kOne[] = {"a"};
  EXPECT_EQ(faultOfParse([&] { parseJsonInPlace(text); }), fault) << "in place";
  EXPECT_EQ(faultOfParse([&] { parseJsonMembers(text, {}); }), fault) << "nothing picked";
  EXPECT_EQ(faultOfParse([&] { parseJsonMembers(text, kOne); }), fault) << "one member picked";
  EXPECT_EQ(
      faultOfParse([&] { parseJsonMembers(text, kOne, [](const JsonValue&) { return true; }); }),
      fault)
      << "whole from the picked member on";
  return fault;
}

std::string at(const char* fault, std::size_t position) {
  return std::string(fault) + "（位置 " + std::to_string(position) + "）";
}

TEST(JsonParser, FaultsCarryTheirTextAndPosition) {
  const struct {
    std::string text;
    const char* fault;
    std::size_t position;
  } cases[] = {
      {"", "JSON 内容不完整", 0},
      {" \t\r\n", "JSON 内容不完整", 4},
      {"\xEF\xBB\xBF{}", "JSON 数字无效", 0},
      {"{}x", "JSON 末尾存在多余内容", 2},
      {"[1 2]", "JSON 数组缺少逗号", 3},
      {"[1,]", "JSON 数字无效", 3},
      {"[1", "JSON 数组缺少逗号", 2},
      {"[", "JSON 内容不完整", 1},
      {"01", "JSON 末尾存在多余内容", 1},
      {"-", "JSON 数字无效", 1},
      {"-x", "JSON 数字无效", 1},
      {"1.", "JSON 小数无效", 2},
      {"1.e5", "JSON 小数无效", 2},
      {"1e", "JSON 指数无效", 2},
      {"1e+", "JSON 指数无效", 3},
      {"1e400", "JSON 数字超出范围", 5},
      {"-1e400", "JSON 数字超出范围", 6},
      {"[2e308]", "JSON 数字超出范围", 6},
      {"nul", "JSON 字面量无效", 3},
      {"nulx", "JSON 字面量无效", 4},
      {"nullx", "JSON 末尾存在多余内容", 4},
      {"tru", "JSON 字面量无效", 3},
      {"fals3", "JSON 字面量无效", 5},
      {"True", "JSON 数字无效", 0},
      {R"({"a":1,})", "JSON 对象键名无效", 7},
      {"{a:1}", "JSON 对象键名无效", 1},
      {"{", "JSON 对象键名无效", 1},
      {R"({"a" 1})", "JSON 对象缺少冒号", 5},
      {R"({"a")", "JSON 对象缺少冒号", 4},
      {R"({"a":1 "b":2})", "JSON 对象缺少逗号", 7},
      {R"({"a":1)", "JSON 对象缺少逗号", 6},
      {R"("abc)", "JSON 字符串未结束", 4},
      {"\"a\tb\"", "JSON 字符串包含控制字符", 3},
      {"\"\\", "JSON 转义不完整", 2},
      {R"("\x")", "JSON 转义字符无效", 3},
      {R"("\u12)", "JSON Unicode 转义不完整", 5},
      {R"("\u12g4")", "JSON Unicode 转义无效", 6},
      {R"("\ud83d")", "JSON Unicode 代理对无效", 7},
      {R"("\ud83d)", "JSON Unicode 代理对无效", 7},
      {R"("\ud83dx\ude00")", "JSON Unicode 代理对无效", 7},
      {R"("\ud83d\n")", "JSON Unicode 代理对无效", 7},
      {R"("\ud83d\u0041")", "JSON Unicode 代理对无效", 13},
      {R"("\ud83d\ude0)", "JSON Unicode 转义不完整", 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(faultOf(c.text), at(c.fault, c.position));
  }
}

TEST(JsonParser, ReadsValuesOfEveryKind) {
  const JsonValue value =
      parseJson(R"( {"t":true,"f":false,"x":-12.5e1,"s":"hi","a":[1,[]],"o":{},"n":null})"
                "\r\n\t");
  EXPECT_EQ(toJsonText(value, -1),
            R"({"a":[1,[]],"f":false,"n":null,"o":{},"s":"hi","t":true,"x":-125})");
  EXPECT_TRUE(value.find("t")->asBool());
  EXPECT_TRUE(value.find("n")->isNull());
  // The last of a repeated key wins, whatever its type.
  EXPECT_EQ(toJsonText(parseJson(R"({"b":[1],"a":{"x":1},"b":{}})"), -1),
            R"({"a":{"x":1},"b":{}})");
}

TEST(JsonParser, StringEscapesAndRawBytes) {
  const struct {
    const char* json;
    std::string bytes;
  } cases[] = {
      {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
      {R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80"},
      {R"("\udc00")", "\xED\xB0\x80"},  // a lone low surrogate is kept
      {R"("\u0000")", std::string(1, '\0')},
      {R"("\u00e9\u20AC\u007f")", "\xC3\xA9\xE2\x82\xAC\x7F"},
      {R"("\/\"\\\b\f\n\r\t")", "/\"\\\b\f\n\r\t"},
      {"\"\xE9\xAA\xA8\"", "\xE9\xAA\xA8"},
      {"\"\xFF\xC0\xAF\xED\xA0\x80\"", "\xFF\xC0\xAF\xED\xA0\x80"},  // invalid UTF-8 passes through
      {"\"\x7F\"", "\x7F"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(parseJson(c.json).asString(), c.bytes);
  }
}

TEST(JsonParser, NumbersConvertLikeStrtod) {
  const struct {
    const char* json;
    double number;
  } cases[] = {
      {"0", 0.0},
      {"-0", -0.0},
      {"27843", 27843.0},
      {"0.1", 0.1},
      {"1E2", 100.0},
      {"1e-2", 0.01},
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"0.000000000000000000000000000001e-300", 0.0},
      {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
      {"2.2250738585072009e-308", 2.2250738585072009e-308},  // largest subnormal
      {"1e-310", 1e-310},
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"123456789012345678901234567890", 1.2345678901234568e29},
      {"9007199254740993", 9007199254740992.0},  // ties to even
      {"0.30000000000000004", 0.30000000000000004},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    const double parsed = parseJson(c.json).asNumber();
    EXPECT_EQ(parsed, c.number);
    EXPECT_EQ(std::signbit(parsed), std::signbit(c.number));
  }
  EXPECT_EQ(faultOf("1.8e308"), at("JSON 数字超出范围", 7));
  EXPECT_EQ(faultOf("0.00000000000000000001e330"), at("JSON 数字超出范围", 26));
  EXPECT_EQ(faultOf("1e99999999999999999999"), at("JSON 数字超出范围", 22));
  EXPECT_EQ(parseJson("1e-99999999999999999999").asNumber(), 0.0);
}

TEST(JsonParser, WrittenNumbersReadBackExactly) {
  std::mt19937_64 bits(27843);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t pattern = bits();
    double number = 0.0;
    std::memcpy(&number, &pattern, sizeof number);
    if (!std::isfinite(number)) continue;
    const std::string text = toJsonText(number, -1);
    const double back = parseJson(text).asNumber();
    ASSERT_EQ(std::memcmp(&back, &number, sizeof number), 0) << text;
  }
}

struct CommaDecimal : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};

TEST(JsonParser, NumbersIgnoreTheProcessLocale) {
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
  const std::string previousC = std::setlocale(LC_ALL, nullptr);
  // A real decimal-comma C locale, if this machine has one installed.
  const char* found = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      found = name;
      break;
    }
  }
  if (found == nullptr) {
    std::printf(
        "note: no decimal-comma C locale installed; only the C++ global locale is changed\n");
  } else {
    EXPECT_STREQ(std::localeconv()->decimal_point, ",") << found;
  }
  EXPECT_EQ(parseJson("[1.5,2.25e1]").asArray().at(1).asNumber(), 22.5);
  EXPECT_EQ(parseJson("1.5").asNumber(), 1.5);
  EXPECT_EQ(toJsonText(parseJson("[0.1,1.5]"), -1), "[0.10000000000000001,1.5]");
  std::setlocale(LC_ALL, previousC.c_str());
  std::locale::global(previous);
}

std::string nested(const std::string& open, const std::string& close, std::size_t levels) {
  std::string text;
  for (std::size_t i = 0; i < levels; ++i) text += open;
  text += "1";
  for (std::size_t i = 0; i < levels; ++i) text += close;
  return text;
}

TEST(JsonParser, NestingDepthIsBounded) {
  EXPECT_EQ(kMaxJsonDepth, 512u);
  EXPECT_EQ(faultOf(nested("[", "]", 512)), "parsed");
  EXPECT_EQ(faultOf(nested("[", "]", 513)), at("JSON 嵌套层级过深", 512));
  EXPECT_EQ(faultOf(nested("{\"a\":", "}", 512)), "parsed");
  EXPECT_EQ(faultOf(nested("{\"a\":", "}", 513)), at("JSON 嵌套层级过深", 2560));
  EXPECT_EQ(faultOf(nested("[ {\"k\" :", "}]", 257)), at("JSON 嵌套层级过深", 2048));
  // Closing containers gives the depth back: many shallow siblings are fine.
  std::string siblings = "[";
  for (int i = 0; i < 5000; ++i) siblings += i == 0 ? "[[]]" : ",[[]]";
  siblings += "]";
  EXPECT_EQ(parseJson(siblings).asArray().size(), 5000u);
}

TEST(JsonParser, DeepestNestingFitsAConnectionThreadsStack) {
  const std::string arrays = nested("[", "]", kMaxJsonDepth);
  const std::string objects = nested("{\"key\": ", "}", kMaxJsonDepth);
  std::string result;
  std::thread worker([&] {
    const JsonValue a = parseJson(arrays);
    const JsonValue o = parseJson(objects);
    result = toJsonText(a, -1) + toJsonText(o, -1);
  });
  worker.join();
  EXPECT_EQ(result, arrays + nested("{\"key\":", "}", kMaxJsonDepth));
}

TEST(JsonParser, NestingAttacksFailCleanly) {
  const std::size_t size = 50u * 1024u * 1024u;
  EXPECT_EQ(faultOf(std::string(size, '[')), at("JSON 嵌套层级过深", 512));
  std::string objects;
  objects.reserve(size);
  while (objects.size() + 5 <= size) objects += "{\"a\":";
  EXPECT_EQ(faultOf(objects), at("JSON 嵌套层级过深", 2560));
}

TEST(JsonParser, SkeletonDocumentsSurviveARoundTrip) {
  const char* skeleton = R"({
  "skeleton": {"hash": "x1Zc/9f", "spine": "4.1.24", "x": -120.5, "y": -3.25, "width": 241, "height": 418.75,
               "images": "./图片/", "audio": ""},
  "bones": [
    {"name": "root"},
    {"name": "身体", "parent": "root", "length": 96.37, "rotation": 89.99999999999999, "x": 0.1, "y": 1e-7},
    {"name": "头", "parent": "身体", "length": 60, "rotation": -1.5e-05, "scaleX": 1.0000001, "color": "ff0000ff"}
  ],
  "slots": [
    {"name": "头发", "bone": "头", "attachment": "hair", "blend": "additive"},
    {"name": "shadow", "bone": "root", "color": "ffffff80", "dark": "000000"}
  ],
  "skins": [
    {"name": "default", "attachments": {
      "头发": {"hair": {"type": "mesh", "uvs": [0, 0.25, 1, 0.3333333333333333], "triangles": [0, 1, 2],
               "vertices": [12.25, -3.5, 1e21, 2.2250738585072014e-308], "hull": 3}},
      "shadow": {"shadow": {"x": 0.5, "y": -0, "width": 200, "height": 40}}
    }}
  ],
  "animations": {
    "走路": {"bones": {"身体": {"rotate": [{"time": 0, "value": 0}, {"time": 0.3333, "value": -12.5,
             "curve": [0.25, 0, 0.75, 1]}]}},
             "events": [{"time": 1.2, "name": "脚步 \"左\"\n", "string": "a\\b\/c\u0001"}]}
  }
})";
  const std::string first = toJsonText(parseJson(skeleton), 2);
  const std::string second = toJsonText(parseJson(first), 2);
  EXPECT_EQ(first, second);
  EXPECT_EQ(toJsonText(parseJson(toJsonText(parseJson(skeleton), -1)), 2), first);
  const JsonValue parsed = parseJson(first);
  EXPECT_EQ(parsed.find("bones")->asArray().at(1).find("name")->asString(), "身体");
  EXPECT_NE(first.find("\"rotation\": 89.999999999999986"), std::string::npos);
  EXPECT_NE(first.find("\"string\": \"a\\\\b/c\\u0001\""), std::string::npos);
}

}  // namespace
}  // namespace connector

namespace connector {
namespace {

bool pointsInto(std::string_view inner, std::string_view outer) {
  return inner.data() >= outer.data() && inner.data() + inner.size() <= outer.data() + outer.size();
}

TEST(JsonParserInPlace, SameTreeWithPlainStringsLeftInTheText) {
  const std::string text =
      R"({"plain":"QUJD+/==","escaped":"a\"b\u00e9","list":["x",1.5,{"k":"v"}],"empty":"","n":null})";
  const JsonValue owned = parseJson(text);
  const JsonValue borrowed = parseJsonInPlace(text);
  EXPECT_EQ(toJsonText(borrowed, 2), toJsonText(owned, 2));

  const JsonValue& plain = *borrowed.find("plain");
  EXPECT_TRUE(plain.isString());
  EXPECT_EQ(plain.type(), JsonValue::String);
  EXPECT_EQ(plain.stringView(), "QUJD+/==");
  EXPECT_TRUE(pointsInto(plain.stringView(), text));
  EXPECT_TRUE(pointsInto(borrowed.find("list")->asArray()[2].find("k")->stringView(), text));
  // A string with escapes has to be unescaped, so it is owned.
  EXPECT_EQ(borrowed.find("escaped")->stringView(), "a\"b\xC3\xA9");
  EXPECT_FALSE(pointsInto(borrowed.find("escaped")->stringView(), text));

  // asString() works on a borrowed string too: it makes one copy and keeps it.
  const std::string& copy = plain.asString();
  EXPECT_EQ(copy, "QUJD+/==");
  EXPECT_EQ(&plain.asString(), &copy);
  EXPECT_FALSE(pointsInto(copy, text));

  // Copies and moves keep the text.
  JsonValue copied = plain;
  EXPECT_EQ(copied.asString(), "QUJD+/==");
  JsonValue moved = std::move(copied);
  EXPECT_EQ(moved.stringView(), "QUJD+/==");
  copied = moved;
  EXPECT_EQ(copied.asString(), "QUJD+/==");
  EXPECT_TRUE(JsonValue(5).stringView().empty());
}

TEST(JsonParserInPlace, LongStringsAcrossEveryEightByteBoundary) {
  // The plain-run scan tests eight bytes at once: a quote, backslash or control byte at any place
  // in a word must still end the run there.
  for (std::size_t length = 0; length < 40; ++length) {
    for (const char special : {'"', '\\', '\x1F', '\n'}) {
      std::string text = "\"" + std::string(length, 'x');
      text += special;
      text += "\"";
      SCOPED_TRACE(length);
      EXPECT_EQ(faultOf(text), faultOfParse([&] { parseJson(text); }));
      if (special == '"') {
        EXPECT_EQ(faultOf(text), at("JSON 末尾存在多余内容", length + 2));
      }
    }
    const std::string plain = "\"" + std::string(length, '\x7F') + "\xFF\"";
    EXPECT_EQ(parseJsonInPlace(plain).stringView(), std::string(length, '\x7F') + "\xFF");
  }
}

TEST(JsonParserMembers, BuildsOnlyThePickedMembersAndChecksTheRest) {
  static constexpr std::string_view kSkeleton[] = {"skeleton"};
  const JsonValue picked = parseJsonMembers(
      R"({"bones":[{"name":"root","x":1.25e2}],"skeleton":{"spine":"3.8","images":"./i/"},"pad":"x"})",
      kSkeleton);
  EXPECT_EQ(toJsonText(picked, -1), R"({"skeleton":{"images":"./i/","spine":"3.8"}})");
  // The last occurrence wins, as in the full tree.
  EXPECT_EQ(
      toJsonText(parseJsonMembers(R"({"skeleton":{"spine":"4.2"},"skeleton":7})", kSkeleton), -1),
      R"({"skeleton":7})");
  EXPECT_EQ(toJsonText(parseJsonMembers(R"({"a":1})", kSkeleton), -1), "{}");
  EXPECT_TRUE(parseJsonMembers(R"([{"skeleton":{}}])", kSkeleton).isNull());
  EXPECT_TRUE(parseJsonMembers(R"("skeleton")", kSkeleton).isNull());

  // Numbers that are only checked still fail when they do not fit a double, however written.
  const std::string huge = "9" + std::string(308, '0');
  EXPECT_EQ(faultOf(R"({"pad":[)" + huge + "]}"), at("JSON 数字超出范围", 8 + huge.size()));
  EXPECT_EQ(faultOf(R"({"pad":[1e400]})"), at("JSON 数字超出范围", 13));
  EXPECT_EQ(faultOf(R"({"pad":[-)" + std::string(300, '1') + "]}"), "parsed");
  EXPECT_EQ(faultOf(R"({"pad":[0.)" + std::string(400, '0') + "1]}"), "parsed");
}

TEST(JsonParserMembers, AMemberThatAsksForTheWholeDocumentGetsWhatParseJsonBuilds) {
  static constexpr std::string_view kSkeleton[] = {"skeleton"};
  const JsonMemberTest wantsWhole = [](const JsonValue& member) { return member.isArray(); };
  // Whichever "skeleton" is last decides the members, as in the full tree; passed members are
  // built wherever they stood, and the last of a repeated key wins among them too.
  const struct {
    const char* text;
    bool whole;
  } cases[] = {
      {R"({"skeleton":[1],"a":{"b":[2,"\u00e9"]},"c":null})", true},
      {R"({"a":1,"a":{"x":[true]},"c":"\"","skeleton":[],"d":-0.5,"a":3})", true},
      {R"({"a":1,"skeleton":{},"b":2,"skeleton":[3],"b":4})", true},
      {R"({"a":1,"skeleton":[3],"b":2,"skeleton":{"s":1}})", true},
      {R"({"a":1,"skeleton":{"skeleton":[]},"b":[[]]})", false},
      {R"({})", false},
  };
  for (const auto& [text, whole] : cases) {
    const JsonValue expected = whole ? parseJson(text) : parseJsonMembers(text, kSkeleton);
    EXPECT_EQ(toJsonText(parseJsonMembers(text, kSkeleton, wantsWhole), -1),
              toJsonText(expected, -1))
        << text;
  }
  EXPECT_TRUE(parseJsonMembers(R"([{"skeleton":[]}])", kSkeleton, wantsWhole).isNull());
  // A passed member keeps the nesting it had: kMaxJsonDepth levels in all are still the limit.
  const std::string deep =
      std::string(kMaxJsonDepth - 1, '[') + std::string(kMaxJsonDepth - 1, ']');
  EXPECT_EQ(
      toJsonText(parseJsonMembers(R"({"a":)" + deep + R"(,"skeleton":[]})", kSkeleton, wantsWhole),
                 -1),
      toJsonText(parseJson(R"({"a":)" + deep + R"(,"skeleton":[]})"), -1));
}

}  // namespace
}  // namespace connector
