// The version and path rules applied to a conversion request before anything touches the disk.
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "convert/convert_request.hpp"
#include "encoding/ascii.hpp"

namespace connector {
namespace {

// Lexical clean-up with "/" only: empty and "." elements vanish, "x/.." pairs cancel, leading ".."
// stays (dropped right after a root), "" becomes ".", and a removed final ".." leaves a trailing "/".
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

}  // namespace

std::string checkSpineVersion(std::string_view text) {
  static const std::regex kVersionPattern(R"(^(3\.8|4\.[0-3])(?:\.\d+)?$)", std::regex::ECMAScript);
  const std::string trimmed(trimAsciiWhitespace(text));
  std::smatch match;
  if (!std::regex_match(trimmed, match, kVersionPattern)) {
    throw std::runtime_error("不支持的 Spine 版本：" + std::string(text));
  }
  return match[1].str();
}

std::string checkRelativePath(std::string_view text, std::string_view label) {
  const auto fail = [&](const char* reason) { throw std::runtime_error(std::string(label) + reason); };
  std::string path(text);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  std::size_t start = 0;
  while (path.size() - start >= 2 && path.compare(start, 2, "./") == 0) start += 2;
  path.erase(0, start);
  while (!path.empty() && path.back() == '/') path.pop_back();
  // A NUL byte would cut the name short at the file system, so the file written differs from the entry.
  if (path.empty() || path.find('\0') != std::string::npos) fail("路径无效");

  const std::string normalized = normalizeLexically(path);
  if (normalized.front() == '/' || (normalized.size() >= 2 && isAsciiLetter(normalized[0]) &&
                                    normalized[1] == ':')) {
    fail("必须使用相对路径");
  }
  std::string_view rest(normalized);
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    if (rest.substr(0, slash) == "..") fail("路径不能超出工程目录");
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  }
  return normalized;
}

}  // namespace connector
