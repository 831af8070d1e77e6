// Base64 decoding of arbitrary text, and the encode-decode round trip of arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "support/base64_reference.hpp"

using namespace connector;

namespace {

void testOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const std::string encoded = encodeBase64(input);
  fuzz::check(encoded.size() == (size + 2) / 3 * 4, "encoded length is 4 per started 3 bytes");
  const std::vector<std::uint8_t> back = decodeBase64(encoded);
  fuzz::check(std::string_view(reinterpret_cast<const char*>(back.data()), back.size()) == input,
              "decode(encode(bytes)) gives the bytes");

  try {
    const std::vector<std::uint8_t> decoded = decodeBase64(input);
    fuzz::check(size % 4 == 0, "only whole groups of four decode");
    fuzz::check(decoded.size() <= size / 4 * 3, "at most 3 bytes per group");
    const std::string again = encodeBase64(
        std::string_view(reinterpret_cast<const char*>(decoded.data()), decoded.size()));
    fuzz::check(decodeBase64(again) == decoded, "decoded bytes survive another round trip");
  } catch (const std::runtime_error& error) {
    fuzz::check(std::string_view(error.what()) == "图片数据格式无效",
                "the one Base64 failure message", error.what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::onSmallStack([&] { testOneInput(data, size); });
  return 0;
}
