// The version and path rules applied to a conversion request before anything touches the disk.
#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "convert/request_rules.hpp"

#include "convert/spine_version_pattern.hpp"
#include "encoding/ascii.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

// Lexical clean-up with "/" only: empty and "." elements vanish, "x/.." pairs cancel, leading ".."
// stays (dropped right after a root), "" becomes ".", and a removed final ".." leaves a trailing
// "/".
std::string normalizeLexically(const std::string& path) {
  const bool absolute = !path.empty() && path.front() == '/';
  std::vector<std::string_view> kept;
  bool trailingSeparator = false;
  std::string_view rest(path);
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view element = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (element.empty() || element == ".") continue;
    trailingSeparator = false;
    if (element == "..") {
      if (!kept.empty() && kept.back() != "..") {
        kept.pop_back();
        trailingSeparator = true;
        continue;
      }
      if (absolute) continue;
    }
    kept.push_back(element);
  }
  std::string result = absolute ? "/" : "";
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) result += '/';
    result += kept[i];
  }
  if (result.empty()) return ".";
  if (trailingSeparator && !kept.empty()) result += '/';
  return result;
}

// An element Windows would not write as given: a colon (a drive, or an alternate data stream
// after a name), a device, or a final dot or space (silently stripped, so two names would meet).
bool isUnsafeElement(std::string_view element) {
  if (element.empty() || element == "." || element == "..") return false;
  return element.find(':') != std::string_view::npos || deviceNameLength(element) != 0 ||
         element.back() == '.' || element.back() == ' ';
}

}  // namespace

std::size_t deviceNameLength(std::string_view element) {
  // The name before the first dot, without the spaces Windows ignores in front of the extension.
  std::string_view stem = element.substr(0, element.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN",    "AUX",
                                                             "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view name : kPlain) {
    if (equalsIgnoringAsciiCase(stem, name)) return stem.size();
  }
  if (stem.size() < 4) return 0;
  const std::string_view prefix = stem.substr(0, 3);
  if (!equalsIgnoringAsciiCase(prefix, "COM") && !equalsIgnoringAsciiCase(prefix, "LPT")) return 0;
  const std::string_view number = stem.substr(3);
  const bool digit = number.size() == 1 && number[0] >= '0' && number[0] <= '9';
  // Windows counts the superscript digits one, two and three (U+00B9, U+00B2, U+00B3) as digits.
  const bool superscript = number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
  return digit || superscript ? stem.size() : 0;
}

std::string checkSpineVersion(std::string_view text) {
  const std::optional<std::string_view> majorMinor = matchSpineVersion(trimAsciiWhitespace(text));
  if (!majorMinor) throw std::runtime_error("不支持的 Spine 版本：" + std::string(text));
  return std::string(*majorMinor);
}

std::string checkRelativePath(std::string_view text, std::string_view label) {
  const auto fail = [&](const char* reason) {
    throw std::runtime_error(std::string(label) + reason);
  };
  std::string path(text);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  std::size_t start = 0;
  while (path.size() - start >= 2 && path.compare(start, 2, "./") == 0) start += 2;
  path.erase(0, start);
  while (!path.empty() && path.back() == '/') path.pop_back();
  if (path.empty()) fail("路径无效");

  const std::string normalized = normalizeLexically(path);
  if (normalized.front() == '/' ||
      (normalized.size() >= 2 && isAsciiLetter(normalized[0]) && normalized[1] == ':')) {
    fail("必须使用相对路径");
  }
  std::string_view rest(normalized);
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    if (rest.substr(0, slash) == "..") fail("路径不能超出工程目录");
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  }
  // A NUL byte would cut the name short at the file system, so the file written differs from the
  // entry; text that is not UTF-8 has no file name at all.
  if (path.find('\0') != std::string::npos || !isValidUtf8(path)) fail("路径无效");
  // Every element as sent, also those that normalising removed: what is refused does not depend
  // on what follows it.
  rest = path;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    if (isUnsafeElement(rest.substr(0, slash))) fail("路径无效");
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  }
  return normalized;
}

}  // namespace connector
