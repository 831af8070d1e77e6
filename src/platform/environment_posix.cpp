#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/environment.hpp"
#include "platform/text.hpp"

namespace connector {

std::string readEnvironment(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  return value == nullptr ? std::string() : std::string(value);
}

std::string readEnvironmentStrict(std::string_view name) {
  std::string value = readEnvironment(name);
  if (!isValidUtf8(value)) throw std::runtime_error("环境变量不是有效的 UTF-8");
  return value;
}

void setEnvironment(std::string_view name, std::string_view value) {
  ::setenv(std::string(name).c_str(), std::string(value).c_str(), 1);
}

void unsetEnvironment(std::string_view name) { ::unsetenv(std::string(name).c_str()); }

}  // namespace connector
