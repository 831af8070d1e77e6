#include "http/connection_pool.hpp"

#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

#include "http/connection.hpp"

namespace connector {
namespace {

using Clock = std::chrono::steady_clock;

// Waits are rechecked now and then as well, so that a wake-up lost by the platform's condition
// variables could only delay, never stop, accepting or serving.
constexpr std::chrono::milliseconds kRecheck{1000};

}  // namespace

ConnectionPool::ConnectionPool(const ServerLimits& limits, ThreadStarter startThread)
    : slots_(std::max<std::size_t>(limits.connectionSlots, 1)),
      waitingPlaces_(limits.waitingPlaces),
      standing_(std::clamp<std::size_t>(limits.standingThreads, 1, slots_)),
      idleLife_(limits.idleThreadLife),
      receiveTimeout_(limits.receiveTimeout),
      sendTimeout_(limits.sendTimeout),
      requestTimes_(limits.requestTimes),
      startThread_(std::move(startThread)) {}

ConnectionPool::~ConnectionPool() {
  close();
  Workers workers;
  std::unique_ptr<WorkerThread> leaver;
  {
    const std::lock_guard guard(lock_);
    quitting_ = true;  // from now on no thread leaves by itself: all are waited for here
    workers.splice(workers.end(), workers_);
    leaver = std::move(leaver_);
  }
  called_.notify_all();
  workers.clear();  // each thread finishes what it serves (cancelled at once), then ends
  leaver.reset();
}

void ConnectionPool::open(ListeningSocket& listener, std::shared_ptr<void> tlsContext,
                          RouteHandler handler) {
  auto service =
      std::make_shared<const Service>(Service{std::move(tlsContext), std::move(handler)});
  const std::lock_guard guard(lock_);
  listener_ = &listener;
  service_ = std::move(service);
  backoff_.afterSuccess();
  closed_ = false;
  while (accepting_ + calls_ < standing_ && taken_ + calls_ < slots_) {
    try {
      callThread();
    } catch (...) {
      if (calls_ > 0) break;  // fewer standing threads, but one accepts
      closed_ = true;
      listener_ = nullptr;
      throw;
    }
  }
}

void ConnectionPool::close() {
  std::unique_lock guard(lock_);
  if (closed_) return;
  closed_ = true;
  calls_ = 0;
  listener_->wake();
  for (const Worker& worker : workers_) {
    if (worker.serving) worker.serving->cancel();
  }
  changed_.notify_all();  // ends the pauses after failed accepts
  while (!changed_.wait_for(guard, kRecheck, [this] { return accepting_ == 0; })) {
  }
  listener_ = nullptr;
}

bool ConnectionPool::waitUntilIdle(std::chrono::milliseconds limit) {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, limit, [this] { return taken_ == 0 && aside_ == 0; });
}

bool ConnectionPool::acceptorWanted() const {
  return !closed_ && accepting_ + calls_ == 0 && taken_ + calls_ < slots_;
}

void ConnectionPool::callThread() {
  ++calls_;
  if (idle_ >= calls_) {
    called_.notify_one();
    return;
  }
  try {
    workers_.emplace_back();
    const Workers::iterator self = std::prev(workers_.end());
    try {
      // The new thread waits for the lock, held here until its object is in place.
      self->thread = startThread_([this, self] { work(self); });
    } catch (...) {
      workers_.erase(self);
      throw;
    }
  } catch (...) {
    --calls_;
    throw;
  }
}

bool ConnectionPool::awaitCall(std::unique_lock<std::mutex>& guard) {
  ++idle_;
  const Clock::time_point until = Clock::now() + idleLife_;
  while (!quitting_ && calls_ == 0 && Clock::now() < until) {
    called_.wait_until(guard, std::min(until, Clock::now() + kRecheck));
  }
  --idle_;
  if (quitting_ || calls_ == 0) return false;
  --calls_;
  ++taken_;
  return true;
}

bool ConnectionPool::keepsAccepting(bool holdsSlot) {
  const bool wanted = !closed_ && accepting_ + calls_ < standing_;
  if (holdsSlot && !wanted) {
    --taken_;
    changed_.notify_all();
    return false;
  }
  if (!holdsSlot && wanted && taken_ + calls_ < slots_) {
    ++taken_;
    return true;
  }
  return holdsSlot;
}

void ConnectionPool::leave(std::unique_lock<std::mutex>& guard, Workers::iterator self) {
  // A thread cannot wait for its own end: the next one to leave waits for it.
  std::unique_ptr<WorkerThread> previous = std::exchange(leaver_, std::move(self->thread));
  workers_.erase(self);
  guard.unlock();
  previous.reset();  // it has let go of the lock already, so this wait is short
}

void ConnectionPool::work(Workers::iterator self) {
  std::unique_lock guard(lock_);
  bool holdsSlot = false;
  while (true) {
    if (!holdsSlot) {
      if (!awaitCall(guard)) {
        if (!quitting_) leave(guard, self);
        return;
      }
      holdsSlot = true;
    }
    if (closed_) {
      holdsSlot = keepsAccepting(holdsSlot);
      continue;
    }

    ++accepting_;
    ListeningSocket* const listener = listener_;
    guard.unlock();
    std::unique_ptr<StreamSocket> connection;
    try {
      connection = listener->accept();
    } catch (...) {
      // No memory for the accepted socket's object: that connection is closed, as a failed
      // accept.
    }
    guard.lock();
    if (!connection) {
      // Stopped, or failing (no descriptors left, for example). One thread tries again, paused
      // without spinning, and still counted as accepting so that no other thread is sent to fail
      // as well; the others give up their slots.
      if (!closed_ && accepting_ > 1) {
        --accepting_;
        --taken_;
        holdsSlot = false;
        changed_.notify_all();
        continue;
      }
      if (!closed_) {
        const std::chrono::milliseconds pause = backoff_.afterFailure();
        changed_.wait_for(guard, pause, [this] { return closed_; });
      }
      --accepting_;
      changed_.notify_all();
      continue;
    }
    --accepting_;
    backoff_.afterSuccess();
    if (closed_) connection->cancel();
    const std::shared_ptr<const Service> service = service_;
    self->serving = connection.get();
    if (acceptorWanted()) {
      try {
        callThread();  // this thread is busy now: another one takes the next connection
      } catch (...) {
        // No thread: this one, or whichever is free first, accepts next.
      }
    }
    guard.unlock();

    const bool aside = serve(self, std::move(connection), *service);

    guard.lock();
    if (aside) {
      --aside_;
      holdsSlot = false;  // its slot went to another thread when it stepped aside
    }
    changed_.notify_all();
    holdsSlot = keepsAccepting(holdsSlot);
  }
}

bool ConnectionPool::serve(Workers::iterator self, std::unique_ptr<StreamSocket> connection,
                           const Service& service) {
  connection->setTimeouts(receiveTimeout_, sendTimeout_);
  bool asideNow = false;
  handleConnection(*connection, service.tlsContext, service.handler, requestTimes_,
                   [this, &asideNow] { stepAside(asideNow); });
  {
    const std::lock_guard guard(lock_);
    self->serving = nullptr;
  }
  connection.reset();  // closed before the slot is free
  return asideNow;
}

void ConnectionPool::stepAside(bool& asideNow) {
  const std::lock_guard guard(lock_);
  if (asideNow || aside_ >= waitingPlaces_) return;
  asideNow = true;
  ++aside_;
  --taken_;
  changed_.notify_all();
  if (!acceptorWanted()) return;
  try {
    callThread();
  } catch (...) {
    // No thread: whichever is free first accepts.
  }
}

}  // namespace connector
