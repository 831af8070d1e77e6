#include "platform/random_token.hpp"

#include <random>
#include <string_view>

namespace connector {

std::string randomHexToken() {
  constexpr std::string_view kDigits = "0123456789abcdef";
  std::random_device source;
  std::string token;
  token.reserve(48);
  for (int i = 0; i < 48; ++i) {
    token += kDigits[source() & 0x0F];  // one fresh draw per digit: 4 random bits each
  }
  return token;
}

}  // namespace connector
