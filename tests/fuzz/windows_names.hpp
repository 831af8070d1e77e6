#pragma once
// What Windows does with a path element, for the invariants of the path and name rules.
#include <array>
#include <string>
#include <string_view>

#include "encoding/ascii.hpp"

namespace connector::fuzz {

// A reserved device name, matched as Windows does: before the first dot, trailing spaces ignored,
// in any letter case; COM and LPT take a digit or a superscript one, two or three.
inline bool isWindowsDeviceName(std::string_view element) {
  std::string_view stem = element.substr(0, element.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (const std::string_view name : {"CON", "PRN", "AUX", "NUL"}) {
    if (equalsIgnoringAsciiCase(stem, name)) return true;
  }
  if (stem.size() < 4) return false;
  const std::string_view prefix = stem.substr(0, 3);
  if (!equalsIgnoringAsciiCase(prefix, "COM") && !equalsIgnoringAsciiCase(prefix, "LPT"))
    return false;
  const std::string_view digit = stem.substr(3);
  if (digit.size() == 1) return digit[0] >= '0' && digit[0] <= '9';
  return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

// An element Windows would change or refuse when creating a file: a drive or stream colon, a
// device name, or a trailing dot or space that it strips silently.
inline const char* windowsElementFault(std::string_view element) {
  if (element.find(':') != std::string_view::npos) return "a colon in an element";
  if (isWindowsDeviceName(element)) return "a device name as an element";
  if (!element.empty() && (element.back() == '.' || element.back() == ' ')) {
    return "an element ending in a dot or a space";
  }
  return nullptr;
}

}  // namespace connector::fuzz
