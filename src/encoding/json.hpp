#pragma once
// The JSON value model and its writer. Objects are kept sorted by key bytes; numbers are doubles.
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace connector {

class JsonValue;
using JsonArray = std::vector<JsonValue>;

// A map ordered by plain byte comparison of the keys.
class JsonObject : public std::map<std::string, JsonValue, std::less<>> {
 public:
  using Base = std::map<std::string, JsonValue, std::less<>>;
  // The map's own constructors are not inherited: its initializer-list constructor would make
  // every braced list of members ambiguous with the one below.
  JsonObject() = default;
  // Builds from key/value pairs; a repeated key keeps its first value.
  JsonObject(std::initializer_list<std::pair<std::string, JsonValue>> members);
  JsonValue& operator[](const std::string& key);
};

// A string value that refers into the text it was parsed from (parseJsonInPlace), so that long
// strings such as Base64 image data are not copied. It is read through JsonValue::stringView();
// the first asString() makes an owned copy, once, kept with the value.
class JsonBorrowedString {
 public:
  explicit JsonBorrowedString(std::string_view text) noexcept : text_(text) {}
  JsonBorrowedString(const JsonBorrowedString& other) noexcept : text_(other.text_) {}
  JsonBorrowedString(JsonBorrowedString&& other) noexcept
      : text_(other.text_), copy_(other.copy_.exchange(nullptr)) {}
  JsonBorrowedString& operator=(const JsonBorrowedString& other) noexcept;
  JsonBorrowedString& operator=(JsonBorrowedString&& other) noexcept;
  ~JsonBorrowedString() { delete copy_.load(); }

  std::string_view text() const noexcept { return text_; }
  const std::string& owned() const;

 private:
  std::string_view text_;
  mutable std::atomic<std::string*> copy_{nullptr};
};

class JsonValue {
 public:
  enum Type : int { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

  JsonValue() = default;
  JsonValue(std::nullptr_t) {}
  JsonValue(bool value) : value_(value) {}
  JsonValue(double value) : value_(value) {}
  JsonValue(int value) : value_(static_cast<double>(value)) {}
  JsonValue(const char* text) : value_(text == nullptr ? std::string() : std::string(text)) {}
  JsonValue(std::string text) : value_(std::move(text)) {}
  JsonValue(JsonArray array) : value_(std::move(array)) {}
  JsonValue(JsonObject object) : value_(std::move(object)) {}
  JsonValue(JsonBorrowedString text) : value_(std::move(text)) {}

  // A borrowed string is a string like any other.
  int type() const noexcept {
    const std::size_t index = value_.index();
    return index == kBorrowedIndex ? String : static_cast<int>(index);
  }
  bool isNull() const noexcept { return type() == Null; }
  bool isBool() const noexcept { return type() == Bool; }
  bool isNumber() const noexcept { return type() == Number; }
  bool isString() const noexcept { return type() == String; }
  bool isArray() const noexcept { return type() == Array; }
  bool isObject() const noexcept { return type() == Object; }

  // Typed reads never throw: a mismatch gives false, 0.0 or a shared empty value.
  bool asBool() const noexcept;
  double asNumber() const noexcept;
  const std::string& asString() const noexcept;
  // The text of a string, owned or borrowed, without a copy; empty for other types.
  std::string_view stringView() const noexcept;
  const JsonArray& asArray() const noexcept;
  const JsonObject& asObject() const noexcept;
  const JsonValue* find(std::string_view key) const noexcept;

  // Mutable access: the value becomes an object first if it is not one.
  JsonObject& makeObject();
  JsonValue& operator[](const std::string& key);
  // Mutable access to a held string/array (nullptr when the type differs).
  std::string* stringIf() noexcept { return std::get_if<std::string>(&value_); }
  JsonArray* arrayIf() noexcept { return std::get_if<JsonArray>(&value_); }

 private:
  static constexpr std::size_t kBorrowedIndex = 6;
  std::variant<std::monostate, bool, double, std::string, JsonArray, JsonObject, JsonBorrowedString>
      value_;
};

// Appends the text of value; indent <= 0 is compact, indent > 0 puts members on their own lines.
void writeJson(std::ostream& out, const JsonValue& value, int indent, int depth = 0);
std::string toJsonText(const JsonValue& value, int indent);
// Appends text as a quoted JSON string (the writer's escape table).
void writeJsonString(std::string& out, std::string_view text);

}  // namespace connector
