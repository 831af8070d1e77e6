#pragma once
// A fixed number of connection slots served by reused threads, each of which accepts its own
// connection: a thread that holds a slot waits in accept, serves what it accepted on the spot and
// goes back to accept. No connection is handed from one thread to another, so a request costs no
// thread switch; connections beyond the slots wait in the listen queue.
// A connection whose handler waits for other requests' work (a conversion waiting for its turn)
// may step aside into a second, separate set of places, so that waiting requests never keep
// health or pairing requests out; threads stay bounded by the two counts together.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "http/accept_backoff.hpp"
#include "http/http_types.hpp"
#include "http/socket.hpp"
#include "platform/worker_thread.hpp"

namespace connector {

class ConnectionPool {
 public:
  // Each connection's receives and sends time out after the given waits for its peer.
  ConnectionPool(std::size_t slots, std::size_t waitingPlaces,
                 std::chrono::milliseconds receiveTimeout, std::chrono::milliseconds sendTimeout);
  // Closes, then waits for every thread to end, however long their handlers take.
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // Accepts connections from listener and serves them with handler until close(). Throws
  // std::system_error (nothing started) when not even one thread can be made.
  void open(ListeningSocket& listener, std::shared_ptr<void> tlsContext, RouteHandler handler);
  // Wakes the listener, cancels every connection being served and returns once no thread is in
  // (or about to call) accept: the listener may go then. Handlers that run finish.
  void close();
  // Waits until every slot and waiting place is free, at most limit; true when they are.
  bool waitUntilIdle(std::chrono::milliseconds limit);

 private:
  void work();
  struct Service {
    std::shared_ptr<void> tlsContext;
    RouteHandler handler;
  };
  // Serves one accepted connection on the calling thread; true when it stepped aside.
  bool serve(std::unique_ptr<StreamSocket> connection, const Service& service);
  // Whether a free slot has no thread waiting in accept, nor one on its way there.
  bool acceptorWanted() const;
  // Sends an idle thread, or a new one, to accept; the lock is held.
  void callAcceptor();
  // Moves the connection served by the calling thread from its slot to a waiting place, when
  // one is free and it has not moved already.
  void stepAside(bool& asideNow);

  const std::size_t slots_;
  const std::size_t waitingPlaces_;
  const std::chrono::milliseconds receiveTimeout_;
  const std::chrono::milliseconds sendTimeout_;
  std::mutex lock_;
  std::condition_variable called_;   // idle threads, failed accepts' pauses and quitting
  std::condition_variable changed_;  // slots freed, accepts left: close and waitUntilIdle
  ListeningSocket* listener_ = nullptr;
  // What open() was given; each connection holds its own reference, since a handler may still
  // run after a stop while the next start brings another.
  std::shared_ptr<const Service> service_;
  AcceptBackoff backoff_;
  std::size_t taken_ = 0;      // slots held by threads accepting or serving
  std::size_t aside_ = 0;      // waiting places taken by connections that stepped aside
  std::size_t accepting_ = 0;  // threads in accept, or pausing after it failed
  std::size_t calls_ = 0;      // idle or new threads sent to accept, not there yet
  std::size_t idle_ = 0;
  bool closed_ = true;
  bool quitting_ = false;
  std::vector<StreamSocket*> serving_;                  // accepted, socket still open
  std::vector<std::unique_ptr<WorkerThread>> threads_;  // last member: joined first
};

}  // namespace connector
