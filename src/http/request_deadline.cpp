#include "http/request_deadline.hpp"

namespace connector {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMiB = 1048576;

}  // namespace

long RequestDeadline::receive(char* buffer, std::size_t size) {
  const long received = socket_.receive(buffer, size);
  if (received > 0 && !started_) {
    started_ = true;
    socket_.setReceiveDeadline(Clock::now() + times_.head);
  }
  return received;
}

// Lengths are at most the body limit (200 MiB), so the product cannot overflow.
void RequestDeadline::headRead(std::uint64_t bodyLength) {
  const auto perLength = std::chrono::milliseconds(
      static_cast<std::chrono::milliseconds::rep>(times_.bodyPerMiB.count() * bodyLength / kMiB));
  socket_.setReceiveDeadline(Clock::now() + times_.body + perLength);
}

}  // namespace connector
