#pragma once
// Reads one HTTP/1.1 request (head and Content-Length body) into an HttpRequest.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "http/byte_stream.hpp"
#include "http/http_types.hpp"

namespace connector {

inline constexpr std::size_t kReceiveSize = 8192;
inline constexpr std::size_t kHeadLimit = 65536;        // bytes of the head, blank line included
inline constexpr std::uint64_t kBodyLimit = 209715200;  // 200 MiB of Content-Length

// Sends the interim "100 Continue" to the client.
using ContinueSender = std::function<void()>;

// Fills request from source. On failure returns false with errorStatus set to 400 (malformed,
// closed early, a transfer coding) or 413 (a limit exceeded); errorStatus is left alone on
// success. A request that expects 100-continue and announces a body gets sendContinue once its
// head has been accepted, before any of its body is read.
bool parseRequest(ByteSource& source, HttpRequest& request, int& errorStatus,
                  const ContinueSender& sendContinue = {});

}  // namespace connector
