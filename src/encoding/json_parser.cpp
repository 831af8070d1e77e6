#include "encoding/json_parser.hpp"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>
#include <type_traits>

#include "encoding/ascii.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

// Containers grow by moving their elements; a copying fallback would be quadratic.
static_assert(std::is_nothrow_move_constructible_v<JsonValue>);

constexpr const char* kTrailingContent = "JSON 末尾存在多余内容";
constexpr const char* kIncomplete = "JSON 内容不完整";
constexpr const char* kBadLiteral = "JSON 字面量无效";
constexpr const char* kStringQuote = "JSON 字符串缺少引号";
constexpr const char* kStringUnterminated = "JSON 字符串未结束";
constexpr const char* kControlCharacter = "JSON 字符串包含控制字符";
constexpr const char* kEscapeIncomplete = "JSON 转义不完整";
constexpr const char* kEscapeInvalid = "JSON 转义字符无效";
constexpr const char* kUnicodeIncomplete = "JSON Unicode 转义不完整";
constexpr const char* kUnicodeInvalid = "JSON Unicode 转义无效";
constexpr const char* kSurrogatePair = "JSON Unicode 代理对无效";
constexpr const char* kBadNumber = "JSON 数字无效";
constexpr const char* kBadFraction = "JSON 小数无效";
constexpr const char* kBadExponent = "JSON 指数无效";
constexpr const char* kOutOfRange = "JSON 数字超出范围";
constexpr const char* kArrayComma = "JSON 数组缺少逗号";
constexpr const char* kObjectKey = "JSON 对象键名无效";
constexpr const char* kObjectColon = "JSON 对象缺少冒号";
constexpr const char* kObjectComma = "JSON 对象缺少逗号";
constexpr const char* kTooDeep = "JSON 嵌套层级过深";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// When the conversion reports a range error, tells overflow (true) from underflow (false) by the
// decimal exponent of the first significant digit of a well-formed token.
bool tokenOverflows(std::string_view token) {
  std::size_t i = token.front() == '-' ? 1 : 0;
  long long leading = 0;  // decimal exponent of the first significant digit, before the e-part
  bool found = false;
  long long integerDigits = 0;
  while (i < token.size() && isDigit(token[i])) {
    if (!found && token[i] != '0') found = true;
    if (found) ++integerDigits;
    ++i;
  }
  if (found) {
    leading = integerDigits - 1;
  } else if (i < token.size() && token[i] == '.') {
    ++i;
    long long place = -1;
    while (i < token.size() && isDigit(token[i]) && token[i] == '0') {
      --place;
      ++i;
    }
    leading = place;
  }
  while (i < token.size() && (isDigit(token[i]) || token[i] == '.')) ++i;
  long long exponent = 0;
  if (i < token.size()) {
    ++i;  // e or E
    bool negative = false;
    if (token[i] == '+' || token[i] == '-') negative = token[i++] == '-';
    for (; i < token.size(); ++i) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (token[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  return leading + exponent >= 0;
}

// One forward pass over text; containers are filled in place so nothing is copied twice.
// Frames on the recursive path (value -> array/object -> value) stay small: 1000 levels must fit
// comfortably in a thread's default stack.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  JsonValue parseDocument() {
    JsonValue root;
    skipWhitespace();
    parseValue(root);
    skipWhitespace();
    if (pos_ != text_.size()) fail(kTrailingContent);
    return root;
  }

 private:
  [[noreturn, gnu::cold, gnu::noinline]] void fail(const char* text) const {
    std::string message(text);
    message += "（位置 ";
    message += std::to_string(pos_);
    message += "）";
    throw JsonParseError(message);
  }

  bool atEnd() const { return pos_ >= text_.size(); }

  void skipWhitespace() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
      ++pos_;
    }
  }

  // The recursive path: containers here, everything else in parseScalar, whose temporaries
  // then stay out of this frame.
  void parseValue(JsonValue& out) {
    skipWhitespace();
    if (atEnd()) fail(kIncomplete);
    const char c = text_[pos_];
    if (c == '[') {
      parseArray(out);
    } else if (c == '{') {
      parseObject(out);
    } else {
      parseScalar(out);
    }
  }

  [[gnu::noinline]] void parseScalar(JsonValue& out) {
    switch (text_[pos_]) {
      case '"':
        out = std::string();
        parseString(*out.stringIf());
        break;
      case 'n':
        parseLiteral("null");
        out = JsonValue();
        break;
      case 't':
        parseLiteral("true");
        out = true;
        break;
      case 'f':
        parseLiteral("false");
        out = false;
        break;
      default: out = parseNumber(); break;
    }
  }

  [[gnu::noinline]] static JsonArray& becomeArray(JsonValue& out) {
    out = JsonArray();
    return *out.arrayIf();
  }

  void parseLiteral(std::string_view word) {
    for (const char expected : word) {
      if (atEnd()) fail(kBadLiteral);
      ++pos_;
      if (text_[pos_ - 1] != expected) fail(kBadLiteral);
    }
  }

  void enterContainer() {
    if (depth_ >= kMaxJsonDepth) fail(kTooDeep);  // reported at the opening bracket
    ++depth_;
  }

  void parseArray(JsonValue& out) {
    enterContainer();
    ++pos_;
    JsonArray& array = becomeArray(out);
    skipWhitespace();
    if (!atEnd() && text_[pos_] == ']') {
      ++pos_;
      --depth_;
      return;
    }
    for (;;) {
      array.emplace_back();
      parseValue(array.back());
      skipWhitespace();
      if (atEnd()) fail(kArrayComma);
      const char c = text_[pos_];
      if (c == ']') {
        ++pos_;
        break;
      }
      if (c != ',') fail(kArrayComma);
      ++pos_;
    }
    --depth_;
  }

  void parseObject(JsonValue& out) {
    skipWhitespace();
    enterContainer();
    ++pos_;
    JsonObject& object = out.makeObject();  // out is still null here
    skipWhitespace();
    if (!atEnd() && text_[pos_] == '}') {
      ++pos_;
      --depth_;
      return;
    }
    std::string key;
    for (;;) {
      skipWhitespace();
      if (atEnd() || text_[pos_] != '"') fail(kObjectKey);
      key.clear();
      parseString(key);
      skipWhitespace();
      if (atEnd() || text_[pos_] != ':') fail(kObjectColon);
      ++pos_;
      // The last occurrence of a repeated key wins.
      const auto [member, inserted] = object.try_emplace(std::move(key));
      if (!inserted) member->second = JsonValue();
      parseValue(member->second);
      skipWhitespace();
      if (!atEnd() && text_[pos_] == '}') {
        ++pos_;
        break;
      }
      if (atEnd() || text_[pos_] != ',') fail(kObjectComma);
      ++pos_;
    }
    --depth_;
  }

  void parseString(std::string& out) {
    skipWhitespace();
    if (atEnd() || text_[pos_] != '"') fail(kStringQuote);
    ++pos_;
    const std::size_t size = text_.size();
    for (;;) {
      // Plain bytes, UTF-8 or not, are copied a run at a time.
      std::size_t run = pos_;
      while (run < size) {
        const auto byte = static_cast<unsigned char>(text_[run]);
        if (byte == '"' || byte == '\\' || byte < 0x20) break;
        ++run;
      }
      out.append(text_.data() + pos_, run - pos_);
      pos_ = run;
      if (atEnd()) fail(kStringUnterminated);
      const auto byte = static_cast<unsigned char>(text_[pos_++]);
      if (byte == '"') return;
      if (byte < 0x20) fail(kControlCharacter);
      if (atEnd()) fail(kEscapeIncomplete);
      switch (text_[pos_++]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': appendUtf8(out, parseCodePoint()); break;
        default: fail(kEscapeInvalid);
      }
    }
  }

  // After "\u": four hex digits, and for a high surrogate the escaped low half that must follow.
  std::uint32_t parseCodePoint() {
    const std::uint32_t unit = parseHex4();
    if (unit < 0xD800 || unit > 0xDBFF) return unit;  // lone low surrogates are kept as they are
    if (text_.size() - pos_ < 2 || text_[pos_] != '\\' || text_[pos_ + 1] != 'u') fail(kSurrogatePair);
    pos_ += 2;
    const std::uint32_t low = parseHex4();
    if (low < 0xDC00 || low > 0xDFFF) fail(kSurrogatePair);
    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }

  std::uint32_t parseHex4() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      if (atEnd()) fail(kUnicodeIncomplete);
      const int digit = hexDigitValue(text_[pos_++]);
      if (digit < 0) fail(kUnicodeInvalid);
      value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
  }

  void skipDigits() {
    while (!atEnd() && isDigit(text_[pos_])) ++pos_;
  }

  double parseNumber() {
    const std::size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    if (atEnd()) fail(kBadNumber);
    if (text_[pos_] == '0') {
      ++pos_;
    } else if (text_[pos_] >= '1' && text_[pos_] <= '9') {
      skipDigits();
    } else {
      fail(kBadNumber);
    }
    if (!atEnd() && text_[pos_] == '.') {
      ++pos_;
      if (atEnd() || !isDigit(text_[pos_])) fail(kBadFraction);
      skipDigits();
    }
    if (!atEnd() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (!atEnd() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (atEnd() || !isDigit(text_[pos_])) fail(kBadExponent);
      skipDigits();
    }
    return convertNumber(text_.substr(start, pos_ - start));
  }

  // from_chars reads the C locale's decimal format whatever the process locale is, and rounds
  // like strtod; subnormal results are kept and results below them become zero.
  double convertNumber(std::string_view token) const {
    double value = 0.0;
    const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
      if (tokenOverflows(token)) fail(kOutOfRange);
      value = token.front() == '-' ? -0.0 : 0.0;
    } else if (result.ec != std::errc() || result.ptr != token.data() + token.size()) {
      fail(kOutOfRange);
    }
    if (!std::isfinite(value)) fail(kOutOfRange);
    return value;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t depth_ = 0;
};

}  // namespace

JsonValue parseJson(std::string_view text) {
  return Parser(text).parseDocument();
}

}  // namespace connector
