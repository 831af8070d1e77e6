#include <string>

#include "platform/system_error.hpp"
#include "platform/text.hpp"
#include "platform/win32.hpp"

namespace connector {
namespace {

struct LocalMemoryTraits {
  using Value = HLOCAL;
  static Value invalid() noexcept { return nullptr; }
  static bool valid(Value m) noexcept { return m != nullptr; }
  static void close(Value m) noexcept { LocalFree(m); }
};

class WindowsErrors final : public std::error_category {
 public:
  const char* name() const noexcept override { return "windows"; }

  std::string message(int code) const override {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const UniqueResource<LocalMemoryTraits> owned(text);
    if (length == 0 || text == nullptr) return "系统错误 " + std::to_string(code);
    std::wstring_view reason(text, length);
    const auto last = reason.find_last_not_of(L" \t\r\n");
    return toUtf8(reason.substr(0, last == std::wstring_view::npos ? 0 : last + 1));
  }

  // Comparisons with std::errc keep working as they do for std::system_category().
  std::error_condition default_error_condition(int code) const noexcept override {
    return std::system_category().default_error_condition(code);
  }
};

}  // namespace

const std::error_category& systemErrors() noexcept {
  static const WindowsErrors category;
  return category;
}

std::error_code readableError(std::error_code error) noexcept {
  if (error.category() != std::system_category()) return error;
  return {error.value(), systemErrors()};
}

}  // namespace connector
