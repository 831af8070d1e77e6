#include "encoding/json.hpp"

namespace connector {

JsonObject::JsonObject(std::initializer_list<std::pair<std::string, JsonValue>> members) {
  // emplace keeps an existing member, so the first of a repeated key wins.
  for (const auto& member : members) {
    emplace(member.first, member.second);
  }
}

JsonValue& JsonObject::operator[](const std::string& key) { return try_emplace(key).first->second; }

bool JsonValue::asBool() const noexcept {
  const bool* flag = std::get_if<bool>(&value_);
  return flag != nullptr && *flag;
}

double JsonValue::asNumber() const noexcept {
  const double* number = std::get_if<double>(&value_);
  return number != nullptr ? *number : 0.0;
}

JsonBorrowedString& JsonBorrowedString::operator=(const JsonBorrowedString& other) noexcept {
  if (this != &other) {
    text_ = other.text_;
    delete copy_.exchange(nullptr);
  }
  return *this;
}

JsonBorrowedString& JsonBorrowedString::operator=(JsonBorrowedString&& other) noexcept {
  if (this != &other) {
    text_ = other.text_;
    delete copy_.exchange(other.copy_.exchange(nullptr));
  }
  return *this;
}

const std::string& JsonBorrowedString::owned() const {
  if (std::string* copy = copy_.load(std::memory_order_acquire)) return *copy;
  auto* made = new std::string(text_);
  std::string* expected = nullptr;
  // Two first readers may race: one copy is kept, the other dropped.
  if (copy_.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return *made;
  delete made;
  return *expected;
}

const std::string& JsonValue::asString() const noexcept {
  static const std::string empty;
  if (const std::string* text = std::get_if<std::string>(&value_)) return *text;
  // Copying a borrowed text can only fail on exhausted memory, which ends the program here.
  if (const JsonBorrowedString* borrowed = std::get_if<JsonBorrowedString>(&value_))
    return borrowed->owned();
  return empty;
}

std::string_view JsonValue::stringView() const noexcept {
  if (const std::string* text = std::get_if<std::string>(&value_)) return *text;
  if (const JsonBorrowedString* borrowed = std::get_if<JsonBorrowedString>(&value_))
    return borrowed->text();
  return {};
}

const JsonArray& JsonValue::asArray() const noexcept {
  static const JsonArray empty;
  const JsonArray* array = std::get_if<JsonArray>(&value_);
  return array != nullptr ? *array : empty;
}

const JsonObject& JsonValue::asObject() const noexcept {
  static const JsonObject empty;
  const JsonObject* object = std::get_if<JsonObject>(&value_);
  return object != nullptr ? *object : empty;
}

const JsonValue* JsonValue::find(std::string_view key) const noexcept {
  const JsonObject* object = std::get_if<JsonObject>(&value_);
  if (object == nullptr) {
    return nullptr;
  }
  const auto found = object->find(key);
  return found != object->end() ? &found->second : nullptr;
}

JsonObject& JsonValue::makeObject() {
  if (JsonObject* object = std::get_if<JsonObject>(&value_)) {
    return *object;
  }
  return value_.emplace<JsonObject>();
}

JsonValue& JsonValue::operator[](const std::string& key) { return makeObject()[key]; }

}  // namespace connector
