// The JSON parser on arbitrary text, with a write-and-reparse round trip of whatever it accepts:
// the compact and the indented text of a parsed value both parse back to an equal value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "encoding/json.hpp"
#include "encoding/json_parser.hpp"
#include "fuzz_support.hpp"

using namespace connector;

namespace {

bool sameValue(const JsonValue& a, const JsonValue& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case JsonValue::Null:
      return true;
    case JsonValue::Bool:
      return a.asBool() == b.asBool();
    case JsonValue::Number: {
      // Bit for bit, so that -0 and 0 are told apart.
      const double x = a.asNumber();
      const double y = b.asNumber();
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case JsonValue::String:
      return a.asString() == b.asString();
    case JsonValue::Array: {
      const JsonArray& x = a.asArray();
      const JsonArray& y = b.asArray();
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (!sameValue(x[i], y[i])) return false;
      }
      return true;
    }
    default: {
      const JsonObject& x = a.asObject();
      const JsonObject& y = b.asObject();
      if (x.size() != y.size()) return false;
      for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
        if (i->first != j->first || !sameValue(i->second, j->second)) return false;
      }
      return true;
    }
  }
}

void checkNumbersFinite(const JsonValue& value) {
  if (value.isNumber()) fuzz::check(std::isfinite(value.asNumber()), "parsed numbers are finite");
  for (const JsonValue& element : value.asArray()) checkNumbersFinite(element);
  for (const auto& member : value.asObject()) checkNumbersFinite(member.second);
}

void testOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  JsonValue value;
  try {
    value = parseJson(text);
  } catch (const JsonParseError& error) {
    const std::string_view message = error.what();
    fuzz::check(message.ends_with("）"), "a fault names its position", message);
    return;
  }
  checkNumbersFinite(value);
  // A picked member that asks for the whole document gets the full tree, wherever it stands.
  static constexpr std::string_view kPicked[] = {"a"};
  if (value.find("a") != nullptr) {
    const JsonValue whole = parseJsonMembers(text, kPicked, [](const JsonValue&) { return true; });
    fuzz::check(sameValue(value, whole), "the whole document once a picked member asks for it");
  }
  for (const int indent : {0, 2}) {
    const std::string written = toJsonText(value, indent);
    JsonValue reparsed;
    try {
      reparsed = parseJson(written);
    } catch (const JsonParseError& error) {
      fuzz::violated("written text parses again", error.what());
    }
    fuzz::check(sameValue(value, reparsed), "reparsed value equals the parsed one", written);
    fuzz::check(toJsonText(reparsed, indent) == written, "writing is stable", written);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::onSmallStack([&] { testOneInput(data, size); });
  return 0;
}
