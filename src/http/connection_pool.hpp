#pragma once
// A fixed number of connection slots served by reused threads, each of which accepts its own
// connection: a thread that holds a slot waits in accept, serves what it accepted on the spot and
// goes back to accept. No connection is handed from one thread to another, so a request costs no
// thread switch; connections beyond the slots wait in the listen queue.
// A connection whose handler waits for other requests' work (a conversion waiting for its turn)
// may step aside into a second, separate set of places, so that waiting requests never keep
// health or pairing requests out; threads stay bounded by the two counts together.
// A few standing threads wait in accept while the server is quiet. A burst starts more; those
// leave once idle for a while, so a quiet server costs no wake-ups. When a thread cannot be made,
// the next thread that is free accepts instead.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>

#include "http/accept_backoff.hpp"
#include "http/http_types.hpp"
#include "http/server_limits.hpp"
#include "http/socket.hpp"
#include "platform/worker_thread.hpp"

namespace connector {

class ConnectionPool {
 public:
  // Threads come from startThread.
  explicit ConnectionPool(const ServerLimits& limits,
                          ThreadStarter startThread = startWorkerThread);
  // Closes, then waits for every thread to end, however long their handlers take.
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // Accepts connections from listener and serves them with handler until close(). Throws
  // (nothing started) when not even one thread can be made.
  void open(ListeningSocket& listener, std::shared_ptr<void> tlsContext, RouteHandler handler);
  // Wakes the listener, cancels every connection being served and returns once no thread is in
  // (or about to call) accept: the listener may go then. Handlers that run finish.
  void close();
  // Waits until every slot and waiting place is free, at most limit; true when they are.
  bool waitUntilIdle(std::chrono::milliseconds limit);

 private:
  struct Service {
    std::shared_ptr<void> tlsContext;
    RouteHandler handler;
  };
  struct Worker {
    std::unique_ptr<WorkerThread> thread;
    StreamSocket* serving = nullptr;  // accepted, socket still open
  };
  using Workers = std::list<Worker>;

  void work(Workers::iterator self);
  // Waits to be sent to accept, and takes a slot when it is; false when the pool is quitting or
  // nobody sent for the thread within idleThreadLife. The lock is held.
  bool awaitCall(std::unique_lock<std::mutex>& guard);
  // Whether a thread that is free or has just served goes (on) accepting; takes or gives back
  // its slot to match. The lock is held.
  bool keepsAccepting(bool holdsSlot);
  // Serves one accepted connection on the calling thread; true when it stepped aside.
  bool serve(Workers::iterator self, std::unique_ptr<StreamSocket> connection,
             const Service& service);
  // Whether a free slot has no thread waiting in accept, nor one on its way there.
  bool acceptorWanted() const;
  // Sends an idle thread, or a new one, to accept; throws when none can be made. The lock is
  // held.
  void callThread();
  // Moves the connection served by the calling thread from its slot to a waiting place, when
  // one is free and it has not moved already.
  void stepAside(bool& asideNow);
  // Ends the calling thread's part in the pool; the lock is held, and released.
  void leave(std::unique_lock<std::mutex>& guard, Workers::iterator self);

  const std::size_t slots_;
  const std::size_t waitingPlaces_;
  const std::size_t standing_;
  const std::chrono::milliseconds idleLife_;
  const std::chrono::milliseconds receiveTimeout_;
  const std::chrono::milliseconds sendTimeout_;
  const RequestTimes requestTimes_;
  const ThreadStarter startThread_;
  std::mutex lock_;
  std::condition_variable called_;   // idle threads: a call, or quitting
  std::condition_variable changed_;  // slots freed, accepts left, closing: pauses, close, waits
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
  Workers workers_;
  // The last thread that left: the next one to leave, or the destructor, waits for its end.
  std::unique_ptr<WorkerThread> leaver_;
};

}  // namespace connector
