#pragma once
// ASCII-only character rules shared by the codecs, the HTTP reader and the request checks.
// None of them depends on the process locale.
#include <string>
#include <string_view>

namespace connector {

inline constexpr char kLowerHexDigits[] = "0123456789abcdef";
inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// The value of one hexadecimal digit of either case; -1 for any other character.
constexpr int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The C locale's white-space set.
inline constexpr std::string_view kAsciiWhitespace = " \t\n\v\f\r";

constexpr bool isAsciiWhitespace(char c) {
  return kAsciiWhitespace.find(c) != std::string_view::npos;
}

// The text without the white space at either end; empty when nothing else is left.
constexpr std::string_view trimAsciiWhitespace(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kAsciiWhitespace);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kAsciiWhitespace);
  return text.substr(first, last - first + 1);
}

constexpr bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

constexpr char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string lowerAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = lowerAscii(c);
  return result;
}

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace connector
