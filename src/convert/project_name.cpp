#include "convert/project_name.hpp"

#include <string>
#include <string_view>

#include "convert/request_rules.hpp"
#include "encoding/ascii.hpp"
#include "platform/text.hpp"

namespace connector {
namespace {

constexpr std::string_view kDefaultProjectName = "Glimmer";
constexpr std::string_view kForbidden = "\\/:*?\"<>|";

}  // namespace

std::string sanitizeProjectName(std::string_view text) {
  const std::string_view trimmed = trimAsciiWhitespace(text);
  if (trimmed.empty()) return std::string(kDefaultProjectName);
  // Bytes that are not UTF-8 make no file name: each such sequence becomes one "_", as other
  // unusable characters do.
  std::string name = replaceInvalidUtf8(trimmed, "_");
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || kForbidden.find(c) != std::string_view::npos)
      c = '_';
  }
  name.erase(0, name.find_first_not_of('.'));
  if (name.empty()) return std::string(kDefaultProjectName);
  // "CON" would open the console on Windows, "CON.json" too: "CON_" and "CON_.json" are files.
  if (const std::size_t device = deviceNameLength(name); device != 0) name.insert(device, 1, '_');
  return name;
}

}  // namespace connector
