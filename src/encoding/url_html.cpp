#include "encoding/url_html.hpp"

#include <stdexcept>

#include "encoding/ascii.hpp"

namespace connector {
namespace {

[[noreturn]] void failUrl() { throw std::runtime_error("URL 编码无效"); }

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string urlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size()) {
      const int high = hexDigitValue(text[i + 1]);
      const int low = hexDigitValue(text[i + 2]);
      if (high < 0 || low < 0) failUrl();
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += c;  // also a "%" too close to the end to start an escape
    }
  }
  return out;
}

std::string formValue(std::string_view text, std::string_view name) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('&', start);
    const std::string_view segment =
        text.substr(start, end == std::string_view::npos ? text.npos : end - start);
    const std::size_t equals = segment.find('=');
    const std::string_view rawName = segment.substr(0, equals);
    if (urlDecode(rawName) == name) {
      return equals == std::string_view::npos ? std::string()
                                              : urlDecode(segment.substr(equals + 1));
    }
    if (end == std::string_view::npos) return std::string();
    start = end + 1;
  }
}

std::string urlEncode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (isUnreserved(byte)) {
      out += c;
    } else {
      out += '%';
      out += kUpperHexDigits[byte >> 4];
      out += kUpperHexDigits[byte & 0x0F];
    }
  }
  return out;
}

std::string htmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

}  // namespace connector
