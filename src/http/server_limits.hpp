#pragma once
// The bounds and time limits of a server, with the shipped values as defaults; tests give
// shorter ones.
#include <chrono>
#include <cstddef>

#include "http/request_deadline.hpp"

namespace connector {

struct ServerLimits {
  std::size_t connectionSlots = 64;  // connections served at once; others wait to be accepted
  // Connections whose handler waits for another request's work (conversions waiting for their
  // turn) and that have given up their slot for it. Beyond this many, a waiting connection
  // keeps its slot. With the slots, it bounds the threads.
  std::size_t waitingPlaces = 192;
  // A client that sends nothing this long while its request is incomplete is dropped, and so is
  // one that takes nothing of its reply this long. The handler itself is never timed.
  std::chrono::milliseconds receiveTimeout{30000};
  std::chrono::milliseconds sendTimeout{30000};
  // However steadily it sends, a client that takes longer over its request is dropped too.
  RequestTimes requestTimes{};
  // Threads that wait in accept while the server is quiet. A burst starts more; each of those
  // leaves once it has had nothing to do for idleThreadLife.
  std::size_t standingThreads = 4;
  std::chrono::milliseconds idleThreadLife{10000};
  // How long stop() waits for the connections still served (their clients are cancelled).
  std::chrono::milliseconds stopWait{3000};
};

}  // namespace connector
