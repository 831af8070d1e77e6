#pragma once
// Strict RFC 8259 parser with positioned Chinese fault messages.
#include <stdexcept>
#include <string>
#include <string_view>

#include "encoding/json.hpp"

namespace connector {

class JsonParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Deepest nesting of arrays/objects accepted; deeper input fails with "JSON 嵌套层级过深".
inline constexpr std::size_t kMaxJsonDepth = 1000;

JsonValue parseJson(std::string_view text);

}  // namespace connector
