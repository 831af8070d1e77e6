#include "encoding/json.hpp"

namespace connector {

JsonObject::JsonObject(std::initializer_list<std::pair<std::string, JsonValue>> members) {
  // emplace keeps an existing member, so the first of a repeated key wins.
  for (const auto& member : members) {
    emplace(member.first, member.second);
  }
}

JsonValue& JsonObject::operator[](const std::string& key) {
  return try_emplace(key).first->second;
}

bool JsonValue::asBool() const noexcept {
  const bool* flag = std::get_if<bool>(&value_);
  return flag != nullptr && *flag;
}

double JsonValue::asNumber() const noexcept {
  const double* number = std::get_if<double>(&value_);
  return number != nullptr ? *number : 0.0;
}

const std::string& JsonValue::asString() const noexcept {
  static const std::string empty;
  const std::string* text = std::get_if<std::string>(&value_);
  return text != nullptr ? *text : empty;
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

JsonValue& JsonValue::operator[](const std::string& key) {
  return makeObject()[key];
}

}  // namespace connector
