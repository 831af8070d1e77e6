#pragma once
// A fixed number of connection slots served by reused threads. The accept loop waits for a
// free slot before it accepts, so connections beyond the slots wait in the listen queue.
// A connection whose handler waits for other requests' work (a conversion waiting for its turn)
// may step aside into a second, separate set of places, so that waiting requests never keep
// health or pairing requests out; threads stay bounded by the two counts together.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "http/http_types.hpp"
#include "http/socket.hpp"
#include "platform/worker_thread.hpp"

namespace connector {

struct ConnectionJob {
  std::unique_ptr<StreamSocket> socket;
  std::shared_ptr<void> tlsContext;
  RouteHandler handler;
};

class ConnectionPool {
 public:
  // Each connection's receives and sends time out after the given waits for its peer.
  ConnectionPool(std::size_t slots, std::size_t waitingPlaces,
                 std::chrono::milliseconds receiveTimeout, std::chrono::milliseconds sendTimeout);
  // Cancels the connections still served and waits for every thread to end.
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // Blocks until a slot is free and takes it; false (nothing taken) once close() was called.
  bool takeSlot();
  // Gives back a slot taken but not used.
  void giveBackSlot();
  // Serves a connection in the slot taken before; a thread is made when no idle one is left.
  // When that fails (std::system_error, or no memory), the slot is given back, the connection
  // closed unanswered and the exception passed on.
  void serve(std::unique_ptr<StreamSocket> socket, std::shared_ptr<void> tlsContext,
             const RouteHandler& handler);
  // Makes takeSlot fail, and cancels every connection being served or waiting to be.
  void close();
  // Undoes close() for a fresh start; connections cancelled before stay cancelled.
  void reopen();
  // Waits until every slot and waiting place is free, at most limit; true when they are.
  bool waitUntilIdle(std::chrono::milliseconds limit);

 private:
  void work();
  void finish(StreamSocket* socket);
  // Moves the connection served by the calling thread from its slot to a waiting place, when
  // one is free and it has not moved already.
  void stepAside(bool& asideNow);

  const std::size_t slots_;
  const std::size_t waitingPlaces_;
  const std::chrono::milliseconds receiveTimeout_;
  const std::chrono::milliseconds sendTimeout_;
  std::mutex lock_;
  std::condition_variable slotFreed_;  // the accept loop and waitUntilIdle wait on it
  std::condition_variable workReady_;  // idle threads wait on it, one woken per connection
  std::size_t taken_ = 0;              // slots taken, served or about to be
  std::size_t aside_ = 0;              // waiting places taken by connections that stepped aside
  std::size_t idleThreads_ = 0;
  bool closed_ = false;
  bool quitting_ = false;
  std::deque<ConnectionJob> waiting_;                   // served, not yet picked up by a thread
  std::vector<StreamSocket*> serving_;                  // picked up, socket still open
  std::vector<std::unique_ptr<WorkerThread>> threads_;  // last member: joined first
};

}  // namespace connector
