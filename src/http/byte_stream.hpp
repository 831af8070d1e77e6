#pragma once
// The two ends the request parser and the response writer work on: a socket in the server,
// plain memory in tests.
#include <cstddef>
#include <cstdint>

namespace connector {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to size bytes into buffer; 0 when the peer has closed, negative on failure.
  virtual long receive(char* buffer, std::size_t size) = 0;
  // Told by the request parser once a head has been read, with the body length it announces, so
  // that a source that keeps time gives the body a deadline of its own.
  virtual void headRead(std::uint64_t bodyLength) { static_cast<void>(bodyLength); }
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Bytes taken from data (possibly fewer than size); 0 or negative on failure.
  virtual long send(const char* data, std::size_t size) = 0;
};

}  // namespace connector
