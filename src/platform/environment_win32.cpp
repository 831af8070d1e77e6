#include "platform/environment.hpp"
#include "platform/text.hpp"
#include "platform/win32.hpp"

namespace connector {
namespace {

std::wstring readWide(std::string_view name) {
  const std::wstring wideName = toWide(name);
  std::wstring value(256, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return {};  // unset, or set to the empty string
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // too small: length holds the size needed, terminator included
  }
}

}  // namespace

std::string readEnvironment(std::string_view name) { return toUtf8(readWide(name)); }

std::string readEnvironmentStrict(std::string_view name) { return toUtf8Strict(readWide(name)); }

void setEnvironment(std::string_view name, std::string_view value) {
  SetEnvironmentVariableW(toWide(name).c_str(), toWide(value).c_str());
}

void unsetEnvironment(std::string_view name) {
  SetEnvironmentVariableW(toWide(name).c_str(), nullptr);
}

}  // namespace connector
