#pragma once
// How long a client may take over its request, whatever the pace of its bytes: a client that
// sends one byte now and then would otherwise hold its connection for ever.
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "http/byte_stream.hpp"
#include "http/socket.hpp"

namespace connector {

struct RequestTimes {
  // From the request's first byte to the end of its head.
  std::chrono::milliseconds head{30000};
  // From the end of the head to the end of the body, plus bodyPerMiB for each MiB it announces.
  std::chrono::milliseconds body{30000};
  std::chrono::milliseconds bodyPerMiB{1000};
};

// The receives of one request on socket, each ended at the request's deadline: the head's, set
// at its first byte, then the body's, set once the head has been read. A receive past it fails,
// as one that times out does.
class RequestDeadline final : public ByteSource {
 public:
  RequestDeadline(StreamSocket& socket, const RequestTimes& times) noexcept
      : socket_(socket), times_(times) {}

  long receive(char* buffer, std::size_t size) override;
  void headRead(std::uint64_t bodyLength) override;

 private:
  StreamSocket& socket_;
  RequestTimes times_;
  bool started_ = false;
};

}  // namespace connector
