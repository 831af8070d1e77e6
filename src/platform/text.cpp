#include "platform/text.hpp"

#include <cstdint>
#include <stdexcept>

namespace connector {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr const char* kBadUtf8 = "文本不是有效的 UTF-8";
constexpr const char* kBadUtf16 = "文本不是有效的 UTF-16";

// Decodes one code point at text[i], advancing i. Returns false for a malformed sequence
// (i then moves past the maximal invalid prefix, one byte at least).
bool decodeUtf8(std::string_view text, std::size_t& i, char32_t& out) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t lead = byte(i);
  if (lead < 0x80) {
    out = lead;
    ++i;
    return true;
  }
  std::size_t length = 0;
  char32_t cp = 0;
  std::uint8_t low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no encoded surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    ++i;
    return false;
  }
  ++i;
  for (std::size_t k = 1; k < length; ++k) {
    if (i >= text.size()) return false;
    const std::uint8_t b = byte(i);
    if (b < low || b > high) return false;
    low = 0x80, high = 0xBF;
    cp = (cp << 6) | (b & 0x3Fu);
    ++i;
  }
  out = cp;
  return true;
}

std::wstring wideFrom(std::string_view utf8, bool strict) {
  std::wstring result;
  result.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = 0;
    if (!decodeUtf8(utf8, i, cp)) {
      if (strict) throw std::runtime_error(kBadUtf8);
      cp = kReplacement;
    }
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0x10000) {
        cp -= 0x10000;
        result.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        result.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        continue;
      }
    }
    result.push_back(static_cast<wchar_t>(cp));
  }
  return result;
}

std::string utf8From(std::wstring_view wide, bool strict) {
  std::string result;
  result.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    auto cp = static_cast<char32_t>(wide[i]);
    if constexpr (sizeof(wchar_t) == 2) cp &= 0xFFFF;
    const bool high = cp >= 0xD800 && cp <= 0xDBFF;
    const bool low = cp >= 0xDC00 && cp <= 0xDFFF;
    if (high && i + 1 < wide.size()) {
      const auto next = static_cast<char32_t>(wide[i + 1]) & 0xFFFF;
      if (next >= 0xDC00 && next <= 0xDFFF) {
        appendUtf8(result, 0x10000 + ((cp - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    if (high || low || cp > 0x10FFFF) {
      if (strict) throw std::runtime_error(kBadUtf16);
      cp = kReplacement;
    }
    appendUtf8(result, cp);
  }
  return result;
}

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::wstring toWide(std::string_view utf8) { return wideFrom(utf8, false); }
std::wstring toWideStrict(std::string_view utf8) { return wideFrom(utf8, true); }
std::string toUtf8(std::wstring_view wide) { return utf8From(wide, false); }
std::string toUtf8Strict(std::wstring_view wide) { return utf8From(wide, true); }

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  char32_t cp = 0;
  while (i < text.size()) {
    if (!decodeUtf8(text, i, cp)) return false;
  }
  return true;
}

std::string replaceInvalidUtf8(std::string_view text, std::string_view substitute) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  char32_t cp = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    if (decodeUtf8(text, i, cp)) {
      out.append(text.substr(start, i - start));
    } else {
      out.append(substitute);
    }
  }
  return out;
}

std::filesystem::path pathFromUtf8(std::string_view utf8) {
  if (!isValidUtf8(utf8)) throw std::runtime_error(kBadUtf8);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string pathToUtf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace connector
