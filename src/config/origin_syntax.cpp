#include "config/origin_syntax.hpp"

#include "encoding/ascii.hpp"

namespace connector {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isLiteralByte(char c) { return hexDigitValue(c) >= 0 || c == ':' || c == '.'; }

bool isNameByte(char c) { return isAsciiLetter(c) || isDigit(c) || c == '.' || c == '-'; }

// The length of the run of bytes from the front of text that `holds` accepts.
template <typename Holds>
std::size_t runLength(std::string_view text, Holds holds) {
  std::size_t length = 0;
  while (length < text.size() && holds(text[length])) ++length;
  return length;
}

}  // namespace

bool matchesOriginSyntax(std::string_view text) {
  if (text.starts_with("https://")) {
    text.remove_prefix(8);
  } else if (text.starts_with("http://")) {
    text.remove_prefix(7);
  } else {
    return false;
  }
  // Neither host form holds the byte that may end it, so the host ends where its run does.
  if (text.starts_with('[')) {
    const std::size_t literal = runLength(text.substr(1), isLiteralByte);
    if (literal == 0 || text.size() < literal + 2 || text[literal + 1] != ']') return false;
    text.remove_prefix(literal + 2);
  } else {
    const std::size_t name = runLength(text, isNameByte);
    if (name == 0) return false;
    text.remove_prefix(name);
  }
  if (text.empty()) return true;
  if (text[0] != ':') return false;
  const std::string_view port = text.substr(1);
  return !port.empty() && port.size() <= 5 && runLength(port, isDigit) == port.size();
}

}  // namespace connector
