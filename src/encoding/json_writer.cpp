#include <charconv>
#include <cmath>
#include <ostream>
#include <string>
#include <string_view>

#include "encoding/ascii.hpp"
#include "encoding/json.hpp"

namespace connector {
namespace {

// Text is gathered in a string and handed to the stream in large pieces.
constexpr std::size_t kStreamChunk = 64 * 1024;

bool needsEscape(unsigned char byte) { return byte < 0x20 || byte == '"' || byte == '\\'; }

void appendEscape(std::string& out, unsigned char byte) {
  switch (byte) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case 0x08:
      out += "\\b";
      return;
    case 0x0C:
      out += "\\f";
      return;
    case 0x0A:
      out += "\\n";
      return;
    case 0x0D:
      out += "\\r";
      return;
    case 0x09:
      out += "\\t";
      return;
    default:
      break;
  }
  const char escape[] = {
      '\\', 'u', '0', '0', kLowerHexDigits[byte >> 4], kLowerHexDigits[byte & 0x0F]};
  out.append(escape, sizeof escape);
}

// Same text as printf("%.17g") in the C locale, whatever the process locale is.
void appendNumber(std::string& out, double number) {
  if (!std::isfinite(number)) {
    out += "null";  // JSON has no spelling for these; the system never produces one
    return;
  }
  char digits[32];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, number, std::chars_format::general, 17);
  out.append(digits, result.ptr);
}

class Writer {
 public:
  Writer(std::string& text, std::ostream* sink, int indent)
      : text_(text), sink_(sink), indent_(indent) {}

  void write(const JsonValue& value, int depth) {
    switch (value.type()) {
      case JsonValue::Null:
        text_ += "null";
        break;
      case JsonValue::Bool:
        text_ += value.asBool() ? "true" : "false";
        break;
      case JsonValue::Number:
        appendNumber(text_, value.asNumber());
        break;
      case JsonValue::String:
        writeJsonString(text_, value.stringView());
        break;
      case JsonValue::Array:
        writeArray(value.asArray(), depth);
        break;
      default:
        writeObject(value.asObject(), depth);
        break;
    }
  }

  void flush() {
    if (sink_ != nullptr && !text_.empty()) {
      sink_->write(text_.data(), static_cast<std::streamsize>(text_.size()));
      text_.clear();
    }
  }

 private:
  void writeArray(const JsonArray& array, int depth) {
    text_ += '[';
    bool first = true;
    for (const JsonValue& element : array) {
      if (!first) text_ += ',';
      first = false;
      lineBreak(depth + 1);
      write(element, depth + 1);
      flushIfLarge();
    }
    if (!array.empty()) lineBreak(depth);
    text_ += ']';
  }

  void writeObject(const JsonObject& object, int depth) {
    text_ += '{';
    bool first = true;
    for (const auto& [key, member] : object) {
      if (!first) text_ += ',';
      first = false;
      lineBreak(depth + 1);
      writeJsonString(text_, key);
      text_ += indent_ > 0 ? ": " : ":";
      write(member, depth + 1);
      flushIfLarge();
    }
    if (!object.empty()) lineBreak(depth);
    text_ += '}';
  }

  void lineBreak(int depth) {
    if (indent_ > 0) {
      text_ += '\n';
      text_.append(
          static_cast<std::size_t>(indent_) * static_cast<std::size_t>(depth < 0 ? 0 : depth), ' ');
    }
  }

  void flushIfLarge() {
    if (sink_ != nullptr && text_.size() >= kStreamChunk) flush();
  }

  std::string& text_;
  std::ostream* sink_;
  int indent_;
};

}  // namespace

void writeJsonString(std::string& out, std::string_view text) {
  out += '"';
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (needsEscape(byte)) {
      out.append(text.data() + runStart, i - runStart);
      appendEscape(out, byte);
      runStart = i + 1;
    }
  }
  out.append(text.data() + runStart, text.size() - runStart);
  out += '"';
}

void writeJson(std::ostream& out, const JsonValue& value, int indent, int depth) {
  // Numbers are written at 17 significant digits; the stream keeps that setting, as callers expect.
  out.precision(17);
  std::string text;
  Writer writer(text, &out, indent);
  writer.write(value, depth);
  writer.flush();
}

std::string toJsonText(const JsonValue& value, int indent) {
  std::string text;
  Writer writer(text, nullptr, indent);
  writer.write(value, 0);
  return text;
}

}  // namespace connector
