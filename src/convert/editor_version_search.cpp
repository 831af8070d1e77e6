#include "convert/editor_version_search.hpp"

#include "encoding/ascii.hpp"

namespace connector {
namespace {

constexpr std::string_view kStarting = "starting:";
constexpr std::string_view kSpine = "spine";

// The position after the white space from `at`, or npos when there is none there.
std::size_t afterWhitespace(std::string_view text, std::size_t at) {
  std::size_t end = at;
  while (end < text.size() && isAsciiWhitespace(text[end])) ++end;
  return end == at ? std::string_view::npos : end;
}

bool labelAt(std::string_view text, std::size_t at, std::string_view lowerLabel) {
  return at <= text.size() &&
         equalsIgnoringAsciiCase(text.substr(at, lowerLabel.size()), lowerLabel);
}

// Each part ends where the next must start with a byte it cannot hold, so a match from `at`, if
// any, is found without going back; the white space after one "Starting:" never holds another.
std::optional<std::string_view> matchAt(std::string_view text, std::size_t at) {
  std::size_t next = afterWhitespace(text, at + kStarting.size());
  if (next == std::string_view::npos || !labelAt(text, next, kSpine)) return std::nullopt;
  next = afterWhitespace(text, next + kSpine.size());
  if (next == std::string_view::npos) return std::nullopt;
  std::size_t end = next;
  while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.')) ++end;
  if (end == next) return std::nullopt;
  return text.substr(next, end - next);
}

}  // namespace

std::optional<std::string_view> findStartingLineVersion(std::string_view output) {
  for (std::size_t at = 0; at + kStarting.size() <= output.size(); ++at) {
    if (!labelAt(output, at, kStarting)) continue;
    if (const auto version = matchAt(output, at)) return version;
    at += kStarting.size() - 1;  // no other "Starting:" begins inside this one
  }
  return std::nullopt;
}

}  // namespace connector
