#include <string>
#include <string_view>

#include "convert/workspace.hpp"

namespace connector {
namespace {

constexpr std::string_view kDefaultProjectName = "Glimmer";
constexpr std::string_view kWhitespace = " \t\n\v\f\r";
constexpr std::string_view kForbidden = "\\/:*?\"<>|";

}  // namespace

std::string sanitizeProjectName(std::string_view text) {
  if (text.empty()) return std::string(kDefaultProjectName);
  const std::size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) return std::string(kDefaultProjectName);
  const std::size_t last = text.find_last_not_of(kWhitespace);
  std::string name(text.substr(first, last - first + 1));
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || kForbidden.find(c) != std::string_view::npos) c = '_';
  }
  name.erase(0, name.find_first_not_of('.'));
  if (name.empty()) return std::string(kDefaultProjectName);
  return name;
}

}  // namespace connector
