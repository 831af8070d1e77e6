#pragma once
// Finding where a plain run of a JSON string ends, many bytes at a time: the parser's hot loop
// over the request's Base64 image data.
#include <cstddef>
#include <string_view>

namespace connector {

// Offset of the first byte of text from `from` on that is a quote, a backslash or a control byte
// (below 0x20); text.size() when there is none.
std::size_t jsonPlainRunEnd(std::string_view text, std::size_t from) noexcept;

}  // namespace connector
