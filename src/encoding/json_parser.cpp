#include "encoding/json_parser.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

#include "encoding/ascii.hpp"
#include "encoding/json_parser_scan.hpp"
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
// Frames on the recursive path (value -> array/object -> value) stay small: kMaxJsonDepth levels
// must fit in a 256 KiB stack.
class Parser {
 public:
  // borrow: strings without escapes refer into text instead of being copied.
  Parser(std::string_view text, bool borrow) : text_(text), borrow_(borrow) {}

  JsonValue parseDocument() {
    JsonValue root;
    skipWhitespace();
    parseValue(root);
    finishDocument();
    return root;
  }

  // The whole text is checked; of a top-level object only the members named in picked are built,
  // until whole (when given) holds for one of them as built: from there on, all are.
  JsonValue parsePicked(std::span<const std::string_view> picked, JsonMemberTest whole) {
    JsonValue root;
    skipWhitespace();
    if (atEnd()) fail(kIncomplete);
    if (text_[pos_] == '{') {
      parsePickedObject(root, picked, whole);
    } else {
      skipValue();
    }
    finishDocument();
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

  void finishDocument() {
    skipWhitespace();
    if (pos_ != text_.size()) fail(kTrailingContent);
  }

  std::size_t plainRunEnd(std::size_t from) const { return jsonPlainRunEnd(text_, from); }

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
        if (borrow_ && borrowString(out)) break;
        out = std::string();
        parseString(out.stringIf());
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
      default:
        out = parseNumber(true);
        break;
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
    JsonArray& array = becomeArray(out);
    walkArray([&] {
      array.emplace_back();
      parseValue(array.back());
    });
  }

  // From the opening bracket: element() reads each value.
  template <class Element>
  void walkArray(const Element& element) {
    enterContainer();
    ++pos_;
    skipWhitespace();
    if (!atEnd() && text_[pos_] == ']') {
      ++pos_;
      --depth_;
      return;
    }
    for (;;) {
      element();
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
    JsonObject& object = out.makeObject();  // out is still null here
    std::string key;
    walkObject(&key, [&] { parseValue(freshMember(object, std::move(key))); });
  }

  // The last occurrence of a repeated key wins.
  static JsonValue& freshMember(JsonObject& object, std::string key) {
    const auto [member, inserted] = object.try_emplace(std::move(key));
    if (!inserted) member->second = JsonValue();
    return member->second;
  }

  // The top-level object of parsePicked. A member passed over while whole may still ask for every
  // member keeps its place in the text, to be built from there if it does.
  [[gnu::noinline]] void parsePickedObject(JsonValue& out, std::span<const std::string_view> picked,
                                           JsonMemberTest whole) {
    struct Passed {
      std::string key;
      std::size_t begin;
      std::size_t end;
    };
    std::vector<Passed> passed;
    bool all = false;
    JsonObject& object = out.makeObject();
    std::string key;
    walkObject(&key, [&] {
      if (!all && std::find(picked.begin(), picked.end(), key) == picked.end()) {
        const std::size_t begin = pos_;
        skipValue();
        if (whole != nullptr) passed.push_back({std::move(key), begin, pos_});
        return;
      }
      JsonValue& member = freshMember(object, std::move(key));
      parseValue(member);
      if (all || whole == nullptr || !whole(member)) return;
      all = true;
      // Checked already: building them cannot fail. The members after this one come later, so the
      // last occurrence of a key still wins.
      for (Passed& earlier : passed) {
        Parser again(text_.substr(earlier.begin, earlier.end - earlier.begin), borrow_);
        again.depth_ = depth_;
        freshMember(object, std::move(earlier.key)) = again.parseDocument();
      }
      passed = {};
    });
  }

  // From the opening brace: each key goes into *key (checked only when key is null), then
  // value() reads the value after the colon.
  template <class Value>
  void walkObject(std::string* key, const Value& value) {
    enterContainer();
    ++pos_;
    skipWhitespace();
    if (!atEnd() && text_[pos_] == '}') {
      ++pos_;
      --depth_;
      return;
    }
    for (;;) {
      skipWhitespace();
      if (atEnd() || text_[pos_] != '"') fail(kObjectKey);
      if (key != nullptr) key->clear();
      parseString(key);
      skipWhitespace();
      if (atEnd() || text_[pos_] != ':') fail(kObjectColon);
      ++pos_;
      value();
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

  // A string that ends before any escape or control byte is taken as a view into the text.
  bool borrowString(JsonValue& out) {
    const std::size_t start = pos_ + 1;  // past the quote, which the caller has seen
    const std::size_t end = plainRunEnd(start);
    if (end >= text_.size() || text_[end] != '"') return false;  // parseString reports or unescapes
    out = JsonBorrowedString(text_.substr(start, end - start));
    pos_ = end + 1;
    return true;
  }

  // out == nullptr checks the string without keeping it.
  void parseString(std::string* out) {
    skipWhitespace();
    if (atEnd() || text_[pos_] != '"') fail(kStringQuote);
    ++pos_;
    const auto put = [out](char c) {
      if (out != nullptr) *out += c;
    };
    for (;;) {
      // Plain bytes, UTF-8 or not, are taken a run at a time.
      const std::size_t run = plainRunEnd(pos_);
      if (out != nullptr) out->append(text_.data() + pos_, run - pos_);
      pos_ = run;
      if (atEnd()) fail(kStringUnterminated);
      const auto byte = static_cast<unsigned char>(text_[pos_++]);
      if (byte == '"') return;
      if (byte < 0x20) fail(kControlCharacter);
      if (atEnd()) fail(kEscapeIncomplete);
      switch (text_[pos_++]) {
        case '"':
          put('"');
          break;
        case '\\':
          put('\\');
          break;
        case '/':
          put('/');
          break;
        case 'b':
          put('\b');
          break;
        case 'f':
          put('\f');
          break;
        case 'n':
          put('\n');
          break;
        case 'r':
          put('\r');
          break;
        case 't':
          put('\t');
          break;
        case 'u': {
          const std::uint32_t codePoint = parseCodePoint();
          if (out != nullptr) appendUtf8(*out, codePoint);
          break;
        }
        default:
          fail(kEscapeInvalid);
      }
    }
  }

  // The same grammar and faults as parseValue, building nothing.
  void skipValue() {
    skipWhitespace();
    if (atEnd()) fail(kIncomplete);
    switch (text_[pos_]) {
      case '[':
        skipArray();
        break;
      case '{':
        skipObject();
        break;
      case '"':
        parseString(nullptr);
        break;
      case 'n':
        parseLiteral("null");
        break;
      case 't':
        parseLiteral("true");
        break;
      case 'f':
        parseLiteral("false");
        break;
      default:
        parseNumber(false);
        break;
    }
  }

  void skipArray() {
    walkArray([this] { skipValue(); });
  }

  void skipObject() {
    walkObject(nullptr, [this] { skipValue(); });
  }

  // After "\u": four hex digits, and for a high surrogate the escaped low half that must follow.
  std::uint32_t parseCodePoint() {
    const std::uint32_t unit = parseHex4();
    if (unit < 0xD800 || unit > 0xDBFF) return unit;  // lone low surrogates are kept as they are
    if (text_.size() - pos_ < 2 || text_[pos_] != '\\' || text_[pos_ + 1] != 'u')
      fail(kSurrogatePair);
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

  // needValue == false only checks the token: one without an exponent and of at most 300 bytes
  // always converts to a finite double, so the conversion is needed only for the others.
  double parseNumber(bool needValue) {
    const std::size_t start = pos_;
    bool exponent = false;
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
      exponent = true;
      ++pos_;
      if (!atEnd() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (atEnd() || !isDigit(text_[pos_])) fail(kBadExponent);
      skipDigits();
    }
    if (!needValue && !exponent && pos_ - start <= 300) return 0.0;
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
  bool borrow_ = false;
  std::size_t pos_ = 0;
  std::size_t depth_ = 0;
};

}  // namespace

JsonValue parseJson(std::string_view text) { return Parser(text, false).parseDocument(); }

JsonValue parseJsonInPlace(std::string_view text) { return Parser(text, true).parseDocument(); }

JsonValue parseJsonMembers(std::string_view text, std::span<const std::string_view> members) {
  return Parser(text, false).parsePicked(members, nullptr);
}

JsonValue parseJsonMembers(std::string_view text, std::span<const std::string_view> members,
                           JsonMemberTest whole) {
  return Parser(text, false).parsePicked(members, whole);
}

}  // namespace connector
