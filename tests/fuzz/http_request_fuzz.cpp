// The HTTP request parser on arbitrary bytes, received in chunks of varying size.
// Input: one seed byte for the chunk sizes, then the bytes a client sends.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "encoding/ascii.hpp"
#include "fuzz_support.hpp"
#include "http/request_parser.hpp"

using namespace connector;

namespace {

void testOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzz::ChunkedSource source(bytes, data[0]);
  HttpRequest request;
  int errorStatus = 0;
  const bool parsed = parseRequest(source, request, errorStatus);
  if (!parsed) {
    fuzz::check(errorStatus == 0 || errorStatus == 400 || errorStatus == 413,
                "failure status is 400 or 413");
    return;
  }
  fuzz::check(errorStatus == 0, "success leaves the status alone");
  fuzz::check(!request.method.empty() && !request.target.empty(), "method and target present");
  fuzz::check(request.target.starts_with(request.path), "path is the start of the target");
  fuzz::check(request.body.size() <= bytes.size(), "body holds no more than was sent");
  for (const auto& [name, value] : request.headers) {
    fuzz::check(name == lowerAscii(name), "header names are lower-cased", name);
    fuzz::check(trimAsciiWhitespace(name) == name && trimAsciiWhitespace(value) == value,
                "header names and values are trimmed", name);
    // Anything that could end a header line when echoed back is refused with 400.
    fuzz::check(value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
                "no CR, LF or NUL in a header value", value);
  }
  if (auto length = request.headers.find("content-length"); length == request.headers.end()) {
    fuzz::check(request.body.empty(), "no Content-Length, no body");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::onSmallStack([&] { testOneInput(data, size); });
  return 0;
}
