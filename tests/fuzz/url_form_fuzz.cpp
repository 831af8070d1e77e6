// URL decoding and form fields on arbitrary text.
// Input: the first byte splits the rest into a field name (that many bytes, at most) and a text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "encoding/url_html.hpp"
#include "fuzz_support.hpp"

using namespace connector;

namespace {

void checkUrlFailure(const std::runtime_error& error) {
  fuzz::check(std::string_view(error.what()) == "URL 编码无效", "the one URL failure message",
              error.what());
}

void testOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string_view name = rest.substr(0, std::min<std::size_t>(data[0], rest.size()));
  const std::string_view text = rest.substr(name.size());

  try {
    const std::string decoded = urlDecode(text);
    fuzz::check(decoded.size() <= text.size(), "decoding never grows the text");
  } catch (const std::runtime_error& error) {
    checkUrlFailure(error);
  }
  try {
    const std::string value = formValue(text, name);
    fuzz::check(value.size() <= text.size(), "a field value is part of the text");
  } catch (const std::runtime_error& error) {
    checkUrlFailure(error);
  }

  // Encoded fields are found again, in front of or after whatever the text holds.
  const std::string encodedField = urlEncode(name) + "=" + urlEncode(text);
  fuzz::check(urlDecode(urlEncode(rest)) == rest, "decode(encode(bytes)) gives the bytes");
  fuzz::check(formValue(encodedField, name) == text, "an encoded field is found", encodedField);
  fuzz::check(formValue(encodedField + "&" + urlEncode(name) + "=x", name) == text,
              "the first of two fields wins", encodedField);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::onSmallStack([&] { testOneInput(data, size); });
  return 0;
}
