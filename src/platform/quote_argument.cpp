#include <string>
#include <string_view>
#include <vector>

#include "platform/quote_argument.hpp"
#include "platform/text.hpp"

namespace connector {

// Backslashes only matter when a double quote follows them (inside the token or as its closing
// quote); the C runtime halves such runs, so they are doubled there and left alone elsewhere.
std::wstring quoteArgument(std::string_view utf8) {
  const std::wstring text = toWide(utf8);
  std::wstring token;
  token.reserve(text.size() + 2);
  token.push_back(L'"');
  std::size_t backslashes = 0;
  for (const wchar_t c : text) {
    if (c == L'\\') {
      ++backslashes;
    } else if (c == L'"') {
      token.append(2 * backslashes + 1, L'\\');
      token.push_back(L'"');
      backslashes = 0;
    } else {
      token.append(backslashes, L'\\');
      token.push_back(c);
      backslashes = 0;
    }
  }
  token.append(2 * backslashes, L'\\');
  token.push_back(L'"');
  return token;
}

std::wstring buildCommandLine(std::string_view executable,
                              const std::vector<std::string>& arguments) {
  std::wstring commandLine = quoteArgument(executable);
  for (const auto& argument : arguments) {
    commandLine.push_back(L' ');
    commandLine += quoteArgument(argument);
  }
  return commandLine;
}

}  // namespace connector
